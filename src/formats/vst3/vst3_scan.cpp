// A VST3 module's scan: the bundle resolved to its binary before any server
// sees it, then the factory and its classes in one request ("vst3|binary"),
// each audio module class's instance in a request of its own
// ("vst3|binary>CID"), and last the module's clean-up ("vst3|"), so that a
// crash or hang there is this module's and not the next one's.
#include "formats/scan_context.h"
#include "formats/vst3/bundle_binary.h"
#include "formats/vst3/vst3_host_rules.h"
#include "formats/vst3/vst3_unit.h"
#include "orvanta/module_info.h"
#include <map>

namespace orvanta {

namespace {

ScanRequest ModuleRequest(const std::wstring& binary)
{
    return {binary, [binary](ScanServer& server, const DialogFn& onDialog) {
                return server.RequestVst3(binary, {}, onDialog);
            }};
}

// A class request loads its module itself, also in a fresh server.
ScanRequest ClassRequest(const std::wstring& binary, const std::string& classId)
{
    return {binary, [binary, classId](ScanServer& server, const DialogFn& onDialog) {
                return server.RequestVst3(binary, classId, onDialog);
            }};
}

ScanRequest FreeRequest(const std::wstring& binary)
{
    return {binary, [binary](ScanServer& server, const DialogFn& onDialog) {
                return server.FreeVst3(binary, onDialog);
            }};
}

// Listed from moduleinfo.json alone, when the file reads cleanly: no server
// starts for it, no plugin code runs.
bool ListFromModuleInfo(ModuleResult& result, bool x86Too)
{
    std::optional<ModuleResult> listed = ModuleInfoResult(result.path, x86Too);
    if (!listed)
        return false;
    std::wstring path = result.path;
    result = std::move(*listed);
    result.path = path;
    return true;
}

// The steps before a VST3 factory exists: a failure there read no factory.
bool FactoryRead(const Vst3ModuleReport& report)
{
    return report.error.empty() ||
           (report.phase != "load" && report.phase != "InitDll" && report.phase != "GetPluginFactory");
}

// One entry per class the factory listed, each as far as its info was read.
void ListClasses(const Vst3ModuleReport& report, ModuleResult& result)
{
    if (FactoryRead(report))
        result.factory = report.factory;
    result.classCount = report.classCount;
    for (const Vst3ModuleReport::Class& cls : report.classes)
    {
        PluginEntry entry;
        entry.vst3 = cls.info;
        entry.vst3->sources = {Vst3FromFactory};
        if (cls.infoLevel == 0)
        {
            entry.status = Status::failed;
            entry.error = "the factory gave no class info for index " + std::to_string(cls.index);
        }
        result.plugins.push_back(std::move(entry));
    }
    if (result.factory)
        ApplyFactoryVendor(result.factory->vendor, &result.plugins);
}

// What the bundle's moduleinfo.json says is checked against what the
// factory said; where the file cannot be used, that is the finding.
void CompareWithModuleInfo(ModuleResult& result)
{
    ModuleInfo info = ReadModuleInfo(result.path);
    result.findings = info.findings;
    AddDeclaredLinks(info, &result.plugins);
    if (!info.read)
        return;
    std::vector<Vst3Class> fromFactory;
    for (const PluginEntry& entry : result.plugins)
        fromFactory.push_back(*entry.vst3);
    for (std::string& finding : CompareModuleInfo(info.classes, fromFactory))
        result.findings.push_back(std::move(finding));
}

// One class's instance: its buses and the controller it names.
void ScanClass(ScanContext& context, const std::wstring& binary, PluginEntry* entry)
{
    const std::string& classId = entry->vst3->classId;
    RequestOutcome outcome =
        context.RunPlugin(ClassRequest(binary, classId), FreeRequest(binary), "class " + classId + ": ", entry);
    if (outcome.status == Status::ok && outcome.vst3Class)
    {
        entry->vst3->buses = outcome.vst3Class->buses;
        entry->vst3->controller = outcome.vst3Class->controller;
        entry->vst3->sources.push_back(Vst3FromInstance);
    }
}

// Each audio module class's instance. A factory may list one class ID
// twice; createInstance can only ever make the first, so the repeat gets no
// request of its own.
void ScanAudioModules(ScanContext& context, const std::wstring& binary)
{
    ModuleResult& result = context.Result();
    std::map<std::string, bool> requested;
    bool audioModule = false;
    for (PluginEntry& entry : result.plugins)
    {
        if (entry.status != Status::ok || entry.vst3->category != Vst3AudioModuleClass)
            continue;
        audioModule = true;
        if (requested[entry.vst3->classId])
        {
            entry.status = Status::failed;
            entry.error = "class ID " + entry.vst3->classId + " is listed twice by the factory";
            continue;
        }
        requested[entry.vst3->classId] = true;
        ScanClass(context, binary, &entry);
    }
    if (!audioModule)
        result.findings.push_back("the factory lists no class of category '" + std::string(Vst3AudioModuleClass) +
                                  "'");
}

} // namespace

void Vst3Unit::Scan(ScanContext& context) const
{
    ModuleResult& result = context.Result();
    bool x86Too = !context.X86ServerExe().empty();
    if (context.ModuleInfoOnly() && ListFromModuleInfo(result, x86Too))
        return;
    std::string why;
    result.architectures = Vst3BundleArchitectures(result.path);
    if (!FindVst3Binary(result.path, &result.binary, &why, x86Too))
        return context.FailUnasked(why);
    const std::wstring& binary = result.binary;
    if (!context.LoadableMachine(binary))
        return;
    context.RememberBinary(binary);

    RequestOutcome outcome = context.RunWithRetries(ModuleRequest(binary), &result.attempts);
    context.TakeOutcome(outcome);
    result.phase = outcome.phase;
    context.NoteMissingDependencies(outcome, binary);
    if (!outcome.vst3Module)
        return;
    ListClasses(*outcome.vst3Module, result);
    if (outcome.status != Status::ok)
        return;
    CompareWithModuleInfo(result);
    if (result.plugins.empty())
    {
        result.status = Status::failed;
        result.error = "the factory lists no classes";
        context.FreeModule(FreeRequest(binary));
        return;
    }
    ScanAudioModules(context, binary);
    for (std::string& finding : MarkVst3Ara(&result.plugins))
        result.findings.push_back(std::move(finding));
    MarkListedControllers(&result.plugins);
    context.FreeModule(FreeRequest(binary));
}

} // namespace orvanta
