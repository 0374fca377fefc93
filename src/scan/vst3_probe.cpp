#include "vst3_probe.h"
#include "library_cache.h"
#include "module_request.h"
#include "report_lines.h"
#include "scan_phase.h"
#include "vst3_report.h"
#include "vst3_text.h"
#include "../base/guarded_buffer.h"
#include "../base/log_output.h"
#include "../base/message_pump.h"
#include "../exchange/exchange_text.h"
#include "../host/vst3_host_context.h"
#include <objbase.h>
#include <stdint.h>
#include <string.h>

using namespace Vst3;

namespace {

const wchar_t PhaseLoad[] = L"load";
const wchar_t PhaseInitDll[] = L"InitDll";
const wchar_t PhaseGetPluginFactory[] = L"GetPluginFactory";
const wchar_t PhaseSetHostContext[] = L"setHostContext";
const wchar_t PhaseFactoryInfo[] = L"factory info";
const wchar_t PhaseClassInfo[] = L"class info";
const wchar_t PhaseCreateInstance[] = L"createInstance";
const wchar_t PhaseInitialize[] = L"initialize";
const wchar_t PhaseBusInfo[] = L"bus info";
const wchar_t PhaseController[] = L"controller";
const wchar_t PhaseTerminate[] = L"terminate";
const wchar_t PhaseRelease[] = L"release";
const wchar_t PhaseFactoryRelease[] = L"factory release";
const wchar_t PhaseExitDll[] = L"ExitDll";

// The structures a plugin fills lie in one guarded region, with room to
// spare past the largest of them: plugins are known to write past the
// ABI's sizes, and a write past the slack meets the guard page at once.
const int InfoSlack = 512;
const int InfoBufferSize = (int)sizeof(PClassInfoW) + InfoSlack;
static_assert(sizeof(PClassInfoW) >= sizeof(PClassInfo2) && sizeof(PClassInfoW) >= sizeof(PFactoryInfo) &&
                  sizeof(PClassInfoW) >= sizeof(BusInfo),
              "the info buffer holds every structure");

void CallTerminate(void* component) { static_cast<IPluginBase*>(component)->terminate(); }
void CallRelease(void* object) { static_cast<FUnknown*>(object)->release(); }

struct ExitDllCall
{
    ExitModuleProc exitDll;
};
void CallExitDll(void* call) { static_cast<ExitDllCall*>(call)->exitDll(); }

// How opening a module went, for either request's report.
struct OpenOutcome
{
    CSharedString error;
    const wchar_t* phase = L"";
    bool initDll = false; // exported
    bool exitDll = false;
    bool noMemory = false;
};

bool Fail(OpenOutcome& outcome, const wchar_t* phase, const CSharedString& error)
{
    outcome.phase = phase;
    outcome.error = error;
    outcome.noMemory = error.IsNull();
    return false;
}

bool Fail(OpenOutcome& outcome, const wchar_t* phase, const wchar_t* error)
{
    return Fail(outcome, phase, CSharedString(error, lstrlenW(error)));
}

// Releases the factory, calls ExitDll, frees the module and ends the
// thread's COM apartment, each plugin call in its guarded phase.
void FreeVst3Module(HMODULE module, Vst3ModuleState& state)
{
    if (state.factory)
    {
        RunGuarded(PhaseFactoryRelease, CallRelease, state.factory);
        state.factory = nullptr;
    }
    if (state.exitDll)
    {
        ExitDllCall call = {state.exitDll};
        RunGuarded(PhaseExitDll, CallExitDll, &call);
        state.exitDll = nullptr;
    }
    FreeLibrary(module);
    if (state.comInitialized)
        CoUninitialize();
    state.comInitialized = false;
}

void ReleaseCachedModule(LibraryCache& cache) { FreeVst3Module(cache.module, cache.vst3State); }

// A module that failed on the way in is freed at once.
void FreeFailedModule(HMODULE module, Vst3ModuleState& state)
{
    LogInfo(L"Freeing library...\n");
    FreeVst3Module(module, state);
}

// Makes the cache hold the module at path: the one loaded before, or a
// fresh one (load, InitDll, GetPluginFactory, setHostContext).
bool OpenModule(const CSharedString& path, OpenOutcome& outcome)
{
    if (ReuseCachedModule(path, FormatVst3))
    {
        outcome.initDll = GetProcAddress(Cache.module, "InitDll") != nullptr;
        outcome.exitDll = GetProcAddress(Cache.module, "ExitDll") != nullptr;
        return true;
    }

    // The thread becomes a single-threaded apartment, as a host's main
    // thread is, for as long as the module is loaded.
    Vst3ModuleState state;
    state.comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    EnterPhase(PhaseLoad);
    CSharedString loadError;
    HMODULE module = LoadModule(path, loadError);
    if (!module)
    {
        if (state.comInitialized)
            CoUninitialize();
        return Fail(outcome, PhaseLoad, loadError);
    }
    ActivateBadge();

    InitModuleProc initDll = (InitModuleProc)(void*)GetProcAddress(module, "InitDll");
    ExitModuleProc exitDll = (ExitModuleProc)(void*)GetProcAddress(module, "ExitDll");
    GetFactoryProc getFactory = (GetFactoryProc)(void*)GetProcAddress(module, "GetPluginFactory");
    outcome.initDll = initDll != nullptr;
    outcome.exitDll = exitDll != nullptr;
    if (!getFactory)
    {
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseGetPluginFactory, L"GetPluginFactory not found, not a VST3 module");
    }
    if (initDll)
    {
        EnterPhase(PhaseInitDll);
        if (!initDll())
        {
            // A module that did not initialise is not asked to exit.
            FreeFailedModule(module, state);
            return Fail(outcome, PhaseInitDll, L"InitDll returned false");
        }
    }
    state.exitDll = exitDll;

    EnterPhase(PhaseGetPluginFactory);
    state.factory = getFactory();
    if (!state.factory)
    {
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseGetPluginFactory, L"GetPluginFactory returned NULL");
    }

    EnterPhase(PhaseSetHostContext);
    IPluginFactory3* factory3 = nullptr;
    if (state.factory->queryInterface(IPluginFactory3_iid, reinterpret_cast<void**>(&factory3)) ==
            kResultOk &&
        factory3)
    {
        factory3->setHostContext(Vst3HostContext());
        factory3->release();
    }

    KeepInCache(module, path, FormatVst3, ReleaseCachedModule);
    Cache.vst3State = state;
    return true;
}

CSharedString Empty() { return CSharedString(L"", 0); }

// The record handed to the plugin, zeroed (the buffer holds the largest).
template <typename Record>
Record* Zeroed(Record* record)
{
    memset(record, 0, sizeof(PClassInfoW));
    return record;
}

// One class, read as a host reads it: from the newest factory interface
// that answers for it, every member from that one record; lower levels are
// not asked once one has answered. Each call gets a zeroed record.
bool ReadClass(IPluginFactory* factory, IPluginFactory2* factory2, IPluginFactory3* factory3,
               int32_t index, char* buffer, CVst3Class& c)
{
    c.index = index;
    c.cid = c.category = c.name = c.subCategories = c.vendor = c.version = c.sdkVersion = Empty();
    const char* cid = nullptr;
    PClassInfoW* infoW = reinterpret_cast<PClassInfoW*>(buffer);
    PClassInfo2* info2 = reinterpret_cast<PClassInfo2*>(buffer);
    PClassInfo* info = reinterpret_cast<PClassInfo*>(buffer);
    if (factory3 && factory3->getClassInfoUnicode(index, Zeroed(infoW)) == kResultOk)
    {
        c.infoLevel = 3;
        cid = infoW->cid;
        c.cardinality = infoW->cardinality;
        c.category = TextFromUtf8Array(infoW->category, sizeof infoW->category);
        c.name = TextFromUtf16Array(infoW->name, 64);
        c.classFlags = infoW->classFlags;
        c.subCategories = TextFromUtf8Array(infoW->subCategories, sizeof infoW->subCategories);
        c.vendor = TextFromUtf16Array(infoW->vendor, 64);
        c.version = TextFromUtf16Array(infoW->version, 64);
        c.sdkVersion = TextFromUtf16Array(infoW->sdkVersion, 64);
    }
    else if (factory2 && factory2->getClassInfo2(index, Zeroed(info2)) == kResultOk)
    {
        c.infoLevel = 2;
        cid = info2->cid;
        c.cardinality = info2->cardinality;
        c.category = TextFromUtf8Array(info2->category, sizeof info2->category);
        c.name = TextFromUtf8Array(info2->name, sizeof info2->name);
        c.classFlags = info2->classFlags;
        c.subCategories = TextFromUtf8Array(info2->subCategories, sizeof info2->subCategories);
        c.vendor = TextFromUtf8Array(info2->vendor, sizeof info2->vendor);
        c.version = TextFromUtf8Array(info2->version, sizeof info2->version);
        c.sdkVersion = TextFromUtf8Array(info2->sdkVersion, sizeof info2->sdkVersion);
    }
    else if (factory->getClassInfo(index, Zeroed(info)) == kResultOk)
    {
        c.infoLevel = 1;
        cid = info->cid;
        c.cardinality = info->cardinality;
        c.category = TextFromUtf8Array(info->category, sizeof info->category);
        c.name = TextFromUtf8Array(info->name, sizeof info->name);
    }
    if (cid)
    {
        wchar_t text[ClassIdDigits + 1];
        FormatClassId(cid, text);
        c.cid.Assign(text, ClassIdDigits);
    }
    return !c.cid.IsNull() && !c.category.IsNull() && !c.name.IsNull() &&
           !c.subCategories.IsNull() && !c.vendor.IsNull() && !c.version.IsNull() &&
           !c.sdkVersion.IsNull();
}

template <typename Interface>
Interface* Query(IPluginFactory* factory, const TUID iid)
{
    Interface* result = nullptr;
    if (factory->queryInterface(iid, reinterpret_cast<void**>(&result)) != kResultOk)
        return nullptr;
    return result;
}

void ReadFactory(IPluginFactory* factory, CVst3ModuleInfo& info)
{
    CGuardedBuffer buffer(InfoBufferSize);
    if (!buffer.chars)
    {
        info.noMemory = true;
        return;
    }
    EnterPhase(PhaseFactoryInfo);
    memset(buffer.chars, 0, sizeof(PFactoryInfo));
    PFactoryInfo* factoryInfo = reinterpret_cast<PFactoryInfo*>(buffer.chars);
    if (factory->getFactoryInfo(factoryInfo) == kResultOk)
    {
        info.factoryVendor = TextFromUtf8Array(factoryInfo->vendor, sizeof factoryInfo->vendor);
        info.factoryUrl = TextFromUtf8Array(factoryInfo->url, sizeof factoryInfo->url);
        info.factoryEmail = TextFromUtf8Array(factoryInfo->email, sizeof factoryInfo->email);
        info.factoryFlags = factoryInfo->flags;
    }
    else
        info.factoryVendor = info.factoryUrl = info.factoryEmail = Empty();
    if (info.factoryVendor.IsNull() || info.factoryUrl.IsNull() || info.factoryEmail.IsNull())
        info.noMemory = true;

    EnterPhase(PhaseClassInfo);
    IPluginFactory2* factory2 = Query<IPluginFactory2>(factory, IPluginFactory2_iid);
    IPluginFactory3* factory3 = Query<IPluginFactory3>(factory, IPluginFactory3_iid);
    int32_t count = factory->countClasses();
    info.classCount = count < 0 ? 0 : count;
    int limit = info.classCount < MaxVst3Classes ? info.classCount : MaxVst3Classes;
    for (int32_t i = 0; i < limit && !info.noMemory; i++)
    {
        CVst3Class* c = new CVst3Class;
        if (!c || !ReadClass(factory, factory2, factory3, i, buffer.chars, *c) || !info.classes.Append(c))
        {
            delete c;
            info.noMemory = true;
        }
    }
    if (factory3)
        factory3->release();
    if (factory2)
        factory2->release();
}

void ReadBuses(IComponent* component, char* buffer, CVst3InstanceInfo& info)
{
    for (int32_t media = kAudio; media <= kEvent; media++)
        for (int32_t direction = kInput; direction <= kOutput; direction++)
        {
            int32_t count = component->getBusCount(media, direction);
            info.busCounts[media][direction] = count < 0 ? 0 : count;
            int limit = count < MaxVst3Buses ? count : MaxVst3Buses;
            for (int32_t i = 0; i < limit && !info.noMemory; i++)
            {
                memset(buffer, 0, sizeof(BusInfo));
                BusInfo* bus = reinterpret_cast<BusInfo*>(buffer);
                // A bus the plugin cannot describe is counted, not listed.
                if (component->getBusInfo(media, direction, i, *bus) != kResultOk)
                    continue;
                CVst3Bus* record = new CVst3Bus;
                if (record)
                {
                    record->mediaType = media;
                    record->direction = direction;
                    record->index = i;
                    record->name = TextFromUtf16Array(bus->name, 128);
                    record->channels = bus->channelCount;
                    record->busType = bus->busType;
                    record->flags = bus->flags;
                }
                if (!record || record->name.IsNull() || !info.buses.Append(record))
                {
                    delete record;
                    info.noMemory = true;
                    break;
                }
                if (media == kAudio && bus->busType == kMain && (bus->flags & kDefaultActive) &&
                    bus->channelCount > 0)
                {
                    // Summed wide and held at the largest count: a plugin's
                    // absurd counts must not wrap below zero.
                    int32_t& total = direction == kInput ? info.audioInputs : info.audioOutputs;
                    int64_t sum = (int64_t)total + bus->channelCount;
                    total = sum > INT32_MAX ? INT32_MAX : (int32_t)sum;
                }
            }
        }
}

// The class of the component's edit controller, when it names one.
void ReadController(IComponent* component, char* buffer, CVst3InstanceInfo& info)
{
    memset(buffer, 0, sizeof(TUID));
    if (component->getControllerClassId(buffer) == kResultOk)
        FormatClassId(buffer, info.controller);
}

void InstanceFail(CVst3InstanceInfo& info, const wchar_t* phase, const wchar_t* what, tresult result)
{
    info.phase = phase;
    info.error = Format(L"%s failed, result=%.8X", what, (unsigned)result);
    info.noMemory = info.noMemory || info.error.IsNull();
}

void ReadInstance(IPluginFactory* factory, const char* cid, CVst3InstanceInfo& info)
{
    CGuardedBuffer buffer(InfoBufferSize);
    if (!buffer.chars)
    {
        info.noMemory = true;
        return;
    }
    EnterPhase(PhaseCreateInstance);
    void* object = nullptr;
    tresult result = factory->createInstance(cid, IComponent_iid, &object);
    if (result != kResultOk || !object)
    {
        InstanceFail(info, PhaseCreateInstance, L"createInstance", result);
        return;
    }
    IComponent* component = static_cast<IComponent*>(object);
    EnterPhase(PhaseInitialize);
    result = component->initialize(Vst3HostContext());
    if (result != kResultOk)
    {
        InstanceFail(info, PhaseInitialize, L"initialize", result);
        RunGuarded(PhaseRelease, CallRelease, component);
        return;
    }
    EnterPhase(PhaseBusInfo);
    ReadBuses(component, buffer.chars, info);
    EnterPhase(PhaseController);
    ReadController(component, buffer.chars, info);
    RunGuarded(PhaseTerminate, CallTerminate, component);
    RunGuarded(PhaseRelease, CallRelease, component);
}

void ModuleRequest(const wchar_t* request, const CSharedString& path)
{
    LogInfo(L"Scanning VST3 module: '%s'\n", request);
    CVst3ModuleInfo info;
    OpenOutcome outcome;
    bool opened = OpenModule(path, outcome);
    info.error = outcome.error;
    info.phase = outcome.phase;
    info.initDll = outcome.initDll;
    info.exitDll = outcome.exitDll;
    info.noMemory = outcome.noMemory;
    if (opened)
    {
        ReadFactory(Cache.vst3State.factory, info);
        PumpMessages();
        LogInfo(L"Keeping VST3 library loaded for now...\n");
    }
    else
        info.factoryVendor = info.factoryUrl = info.factoryEmail = Empty();
    LogInfo(L"Finished\n");
    WriteVst3ModuleReport(info);
}

// The class ID of a request in its normal form, as ASCII for the
// out-of-memory answer (made without allocating); "" when it is none.
void ClassIdAscii(const wchar_t* cidText, char* digits)
{
    char cid[16];
    wchar_t text[ClassIdDigits + 1];
    digits[0] = 0;
    if (!ParseClassId(cidText, cid))
        return;
    FormatClassId(cid, text);
    for (int i = 0; i <= ClassIdDigits; i++)
        digits[i] = (char)text[i];
}

void ClassRequest(const wchar_t* request, const CSharedString& path, const wchar_t* cidText,
                  const char* cidDigits)
{
    LogInfo(L"Scanning VST3 class: '%s'\n", request);
    CVst3InstanceInfo info;
    char cid[16];
    if (!ParseClassId(cidText, cid))
    {
        // Nothing is loaded for a request that names no class.
        info.cid = CSharedString(cidText, lstrlenW(cidText));
        const wchar_t* reason = L"Class ID is not 32 hexadecimal digits";
        info.error = CSharedString(reason, lstrlenW(reason));
        info.noMemory = info.cid.IsNull() || info.error.IsNull();
    }
    else
    {
        wchar_t text[ClassIdDigits + 1];
        FormatClassId(cid, text);
        info.cid.Assign(text, ClassIdDigits);
        OpenOutcome outcome;
        if (OpenModule(path, outcome))
        {
            ReadInstance(Cache.vst3State.factory, cid, info);
            PumpMessages();
            LogInfo(L"Keeping VST3 library loaded for now...\n");
        }
        else
        {
            info.error = outcome.error;
            info.phase = outcome.phase;
        }
        info.noMemory = info.noMemory || outcome.noMemory || info.cid.IsNull();
    }
    LogInfo(L"Finished\n");
    WriteVst3InstanceReport(info, cidDigits);
}

} // namespace

bool IsVst3Request(const wchar_t* request)
{
    return request && SkipPrefix(request, ExchangeText::Vst3RequestPrefix);
}

void HandleVst3Request(const wchar_t* request)
{
    const wchar_t* body = SkipPrefix(request, ExchangeText::Vst3RequestPrefix);
    // "vst3|" alone: the cached module's factory is released and its
    // ExitDll called in a request of its own.
    if (!*body)
        return AnswerFreeRequest("vst3");
    const wchar_t* cidText = nullptr;
    CSharedString path = SplitModuleRequest(body, &cidText);
    char cidDigits[ClassIdDigits + 1] = "";
    if (cidText)
        ClassIdAscii(cidText, cidDigits);
    if (path.IsNull())
    {
        if (cidText)
            WriteVst3InstanceOutOfMemory(ScanNoMemoryText, cidDigits);
        else
            WriteVst3ModuleOutOfMemory(ScanNoMemoryText);
        return;
    }
    if (cidText)
        ClassRequest(request, path, cidText, cidDigits);
    else
        ModuleRequest(request, path);
}
