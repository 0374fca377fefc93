// A CLAP module's presets, found by its preset-discovery providers: the
// provider list in one request ("clap-presets|path"), each provider in a
// request of its own ("clap-presets|path>ID": create, init, then the
// metadata of each location it declared), and last the module's clean-up
// ("clap|"). A provider that crashes or hangs costs itself alone.
#include "discovery/location_stamp.h"
#include "formats/clap/clap_unit.h"
#include "formats/scan_context.h"
#include "orvanta/text.h"

namespace orvanta {
namespace {

ScanRequest ProvidersRequest(const std::wstring& path)
{
    return {path, [path](ScanServer& server, const DialogFn& onDialog) {
                return server.RequestClapPresets(path, {}, onDialog);
            }};
}

ScanRequest ProviderRequest(const std::wstring& path, const std::string& id)
{
    return {path, [path, id](ScanServer& server, const DialogFn& onDialog) {
                return server.RequestClapPresets(path, id, onDialog);
            }};
}

ScanRequest FreeRequest(const std::wstring& path)
{
    return {path, [path](ScanServer& server, const DialogFn& onDialog) {
                return server.FreeClap(path, onDialog);
            }};
}

// No request line can carry these.
const std::string& ControlCharacters()
{
    static const std::string characters = [] {
        std::string all;
        for (char c = 1; c < 0x20; c++)
            all += c;
        return all + '\x7F';
    }();
    return characters;
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

// What one provider's request gave, into the module's presets.
void TakeProvider(const ClapProviderReport& report, PresetProvider* provider, ModulePresets* presets)
{
    const std::string who = "provider " + provider->id + ": ";
    provider->presetCount = report.presetCount;
    for (const ClapProviderReport::FileType& type : report.fileTypes)
        provider->fileTypes.push_back(type.extension);
    for (const ClapProviderReport::Location& declared : report.locations)
    {
        PresetLocation location;
        location.provider = provider->id;
        location.name = declared.name;
        location.flags = declared.flags;
        location.inPlugin = declared.inPlugin;
        if (!declared.inPlugin)
        {
            location.path = ToWide(declared.location);
            location.stamp = PathStamp(location.path);
        }
        presets->locations.push_back(std::move(location));
    }
    for (const ClapProviderReport::Item& item : report.presets)
    {
        Preset preset = item.preset;
        preset.provider = provider->id;
        if (!item.inPlugin)
            preset.file = ToWide(item.location);
        if (!item.cut.empty())
            presets->findings.push_back(who + "preset '" + preset.name + "': " + Joined(item.cut) +
                                        " cut at the server's bound");
        presets->presets.push_back(std::move(preset));
    }
    for (const ClapProviderReport::Error& error : report.errors)
        presets->findings.push_back(who + (error.location.empty() ? "" : error.location + ": ") + error.message +
                                    " (error " + std::to_string(error.status) + ")");
    if (!report.cut.empty())
        presets->findings.push_back(who + Joined(report.cut) + " cut at the server's bound");
    if (report.presetCount > (int)report.presets.size())
        presets->findings.push_back(who + "gave " + std::to_string(report.presetCount) + " presets; the first " +
                                    std::to_string(report.presets.size()) + " were kept");
}

} // namespace

bool ClapUnit::ScanPresets(ScanContext& context, const ModuleResult& module, ModulePresets* presets) const
{
    const std::wstring& path = module.path;
    if (!context.LoadableMachine(path))
        return false;
    int attempts = 0;
    RequestOutcome list = context.RunWithRetries(ProvidersRequest(path), &attempts);
    if (list.status != Status::ok || !list.clapProviders)
    {
        presets->findings.push_back("the preset providers were not read: " + std::string(StatusName(list.status)) +
                                    (list.error.empty() ? "" : ": " + list.error) +
                                    (list.phase.empty() ? "" : " (in " + list.phase + ")"));
        context.FreeModule(FreeRequest(path));
        return true;
    }
    presets->factory = list.clapProviders->factory;
    for (const ClapProviderList::Provider& listed : list.clapProviders->providers)
    {
        if (!listed.problem.empty())
        {
            presets->findings.push_back("provider " + std::to_string(listed.index) + ": " + listed.problem +
                                        "; skipped");
            continue;
        }
        if (listed.id.empty() || listed.id.find_first_of(ControlCharacters()) != std::string::npos)
        {
            presets->findings.push_back("provider " + std::to_string(listed.index) +
                                        (listed.id.empty() ? ": its ID is empty"
                                                           : ": its ID holds a control character") +
                                        ", so it cannot be requested");
            continue;
        }
        PresetProvider provider;
        provider.id = listed.id;
        provider.name = listed.name;
        provider.vendor = listed.vendor;
        RequestOutcome outcome = context.RunWithRetries(ProviderRequest(path, listed.id), &provider.attempts);
        provider.status = outcome.status;
        provider.error = outcome.error;
        provider.phase = outcome.phase;
        if (outcome.clapProvider)
            TakeProvider(*outcome.clapProvider, &provider, presets);
        context.NoteSurvivedCrashes(outcome, "provider " + listed.id + ": ");
        presets->providers.push_back(std::move(provider));
    }
    if ((int)list.clapProviders->providers.size() < list.clapProviders->providerCount)
        presets->findings.push_back("the factory says it has " + std::to_string(list.clapProviders->providerCount) +
                                    " providers; the first " +
                                    std::to_string(list.clapProviders->providers.size()) + " were read");
    context.FreeModule(FreeRequest(path));
    // What the scanner noted on the scratch result is about the presets.
    for (std::string& finding : context.Result().findings)
        presets->findings.push_back(std::move(finding));
    return true;
}

} // namespace orvanta
