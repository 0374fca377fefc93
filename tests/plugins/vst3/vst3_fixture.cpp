// VST3 fixture modules of our own, well-behaved and hostile, built on the
// server's own ABI declarations. VST3_MODE picks the variant at build time
// (see vst3_fixtures.cmake):
//    1 effect: stereo in and out, an inactive auxiliary sidechain input;
//      exports InitDll and ExitDll and, like real framework-built plugins,
//      crashes in GetPluginFactory unless InitDll came first, keeps one
//      reference to the host context, and crashes in ExitDll while the
//      factory is still held (a transcript without a warning proves the order)
//    2 instrument: an event input and a stereo output, IPluginFactory2 only,
//      no InitDll/ExitDll; its initialize checks the host context (a
//      failure comes back as initialize's result: 80004002 no
//      IHostApplication, 80004005 a wrong name, 8000FFFF createInstance not
//      refused)
//    3 suite: two audio module classes and a controller class; each
//      component names that controller (getControllerClassId)
//    4 legacy: a single-file module with a plain IPluginFactory
//    5-9 crash in InitDll, GetPluginFactory, every class info call,
//      initialize; and
//      in every clean-up step (terminate, the instance's release, the
//      factory's release, ExitDll)
//   10 hangs in initialize; 11 shows a message box there (title "Licence
//      check", text "Please insert your dongle") and goes on once it is closed
//   12 countClasses says 1,000,000 (class 0 an audio module class whose
//      getBusCount says 1,000,000 for each media type and direction, the
//      others controller classes)
//   13 texts that fill their whole arrays with no terminator, bytes that are
//      not UTF-8, unpaired surrogates: the factory info; class 0 through
//      getClassInfoUnicode, with a bus name; class 1 through the 8-bit class
//      infos only (getClassInfoUnicode refuses it), getClassInfo2 writing
//      on 16 bytes past the structure's end
//   14 GetPluginFactory returns null (InitDll and ExitDll exported)
//   15 getClassInfoUnicode's name and vendor differ from the 8-bit ones
//   16 also a VST 2 plugin: reports what CoInitializeEx(COINIT_MULTITHREADED)
//      returned on the scanning thread (the factory vendor "COM XXXXXXXX",
//      the VST 2 effect name the same), then undoes its own initialisation
//   17 hangs in ExitDll (everything before it well-behaved)
//   18 Unicode only: getClassInfo and getClassInfo2 refuse every class
//      (kResultFalse, the record left as it was), getClassInfoUnicode
//      answers; an audio module class named "Grüße Gain" and its controller,
//      every class vendor empty (the factory's is "Zandrel Software"); the
//      component names the controller
//   19 ARA: an audio module class "Orvanta ARA Effect", an ARA main factory
//      class of the same name (never made by a host's scan: it is no audio
//      module) and a controller, which the component names
// Modes 18 and 19 come with a moduleinfo.json in their bundle
// (vst3/NAME.moduleinfo.json) that agrees with the factory.
// Before a crash a variant appends the id of the crashing thread to the
// file named by CRASH_FIXTURE_THREAD_FILE, as the VST 2 crash fixtures do.
#include "host/vst3_abi.h"
#include "../fixture_crash.h"
#include "host/vst2_abi.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>

#ifndef VST3_MODE
#error VST3_MODE must be defined
#endif

#define VST3_EFFECT 1
#define VST3_INSTRUMENT 2
#define VST3_SUITE 3
#define VST3_LEGACY 4
#define VST3_CRASH_INIT_DLL 5
#define VST3_CRASH_GET_FACTORY 6
#define VST3_CRASH_CLASS_INFO 7
#define VST3_CRASH_INITIALIZE 8
#define VST3_CRASH_CLEANUP 9
#define VST3_HANG_INITIALIZE 10
#define VST3_DIALOG_INITIALIZE 11
#define VST3_MANY_CLASSES 12
#define VST3_BAD_TEXTS 13
#define VST3_NULL_FACTORY 14
#define VST3_UNICODE_NAMES 15
#define VST3_COM_STATE 16
#define VST3_HANG_EXIT_DLL 17
#define VST3_UNICODE_ONLY 18
#define VST3_ARA 19

#define MODULE_ENTRY                                                                   \
    (VST3_MODE == VST3_EFFECT || VST3_MODE == VST3_SUITE || VST3_MODE == VST3_CRASH_INIT_DLL || \
     VST3_MODE == VST3_CRASH_CLEANUP || VST3_MODE == VST3_NULL_FACTORY || VST3_MODE == VST3_HANG_EXIT_DLL)

using namespace Vst3;

namespace {

const int FactoryLevel = VST3_MODE == VST3_LEGACY ? 1 : VST3_MODE == VST3_INSTRUMENT ? 2 : 3;

using fixture::Crash;

// ------------------------------------------------------------ the classes

struct BusSpec
{
    int32_t media, direction, channels;
    const wchar_t* name;
    int32_t busType;
    uint32_t flags;
};

struct ClassSpec
{
    unsigned char cid[16]; // memory bytes
    const char* category;
    const char* name;
    const wchar_t* nameW; // getClassInfoUnicode's; null: the 8-bit one
    uint32_t classFlags;
    const char* subCategories;
    const char* vendor;
    const wchar_t* vendorW;
    const char* version;
    const char* sdkVersion;
    const BusSpec* buses;
    int busCount;
    int controller = -1; // the index of the class getControllerClassId names
};

const char AudioModule[] = "Audio Module Class";
const char Controller[] = "Component Controller Class";
const char AraMainFactory[] = "ARA Main Factory Class";

const BusSpec EffectBuses[] = {
    {kAudio, kInput, 2, L"Stereo In", kMain, kDefaultActive},
    {kAudio, kInput, 2, L"Sidechain", kAux, 0},
    {kAudio, kOutput, 2, L"Stereo Out", kMain, kDefaultActive},
};
const BusSpec InstrumentBuses[] = {
    {kEvent, kInput, 16, L"MIDI In", kMain, kDefaultActive},
    {kAudio, kOutput, 2, L"Stereo Out", kMain, kDefaultActive},
};
const BusSpec MonoToStereoBuses[] = {
    {kAudio, kInput, 1, L"Mono In", kMain, kDefaultActive},
    {kAudio, kOutput, 2, L"Stereo Out", kMain, kDefaultActive},
    {kEvent, kOutput, 1, L"Tap Out", kMain, 0},
};

#define BUSES(list) list, (int)(sizeof list / sizeof list[0])

#if VST3_MODE == VST3_EFFECT || VST3_MODE == VST3_COM_STATE
// Declared as the words 01234567 89ABCDEF 01234567 89ABCDEF.
const ClassSpec Classes[] = {
    {{0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF},
     AudioModule, "Orvanta Test Effect", nullptr, kDistributable, "Fx|Stereo", "Zandrel Software",
     nullptr, "1.2.3", "VST 3.7.9", BUSES(EffectBuses)},
};
#elif VST3_MODE == VST3_INSTRUMENT
// 4F72764E 496E7374 72756D65 6E740001
const ClassSpec Classes[] = {
    {{0x4E, 0x76, 0x72, 0x4F, 0x6E, 0x49, 0x74, 0x73, 0x72, 0x75, 0x6D, 0x65, 0x6E, 0x74, 0x00, 0x01},
     AudioModule, "Orvanta Test Instrument", nullptr, kDistributable | kSimpleModeSupported,
     "Instrument|Synth", "Zandrel Software", nullptr, "0.9.1", "VST 3.6.14", BUSES(InstrumentBuses)},
};
#elif VST3_MODE == VST3_SUITE
// 53554954 45000001 A0B0C0D0 0000000N
const ClassSpec Classes[] = {
    {{0x54, 0x49, 0x55, 0x53, 0x00, 0x45, 0x01, 0x00, 0xA0, 0xB0, 0xC0, 0xD0, 0x00, 0x00, 0x00, 0x01},
     AudioModule, "Suite Chorus", nullptr, kDistributable, "Fx|Modulation", "Zandrel Software",
     nullptr, "3.0.0", "VST 3.7.9", BUSES(EffectBuses), 2},
    {{0x54, 0x49, 0x55, 0x53, 0x00, 0x45, 0x01, 0x00, 0xA0, 0xB0, 0xC0, 0xD0, 0x00, 0x00, 0x00, 0x02},
     AudioModule, "Suite Delay", nullptr, kDistributable, "Fx|Delay", "Zandrel Software", nullptr,
     "3.0.0", "VST 3.7.9", BUSES(MonoToStereoBuses), 2},
    {{0x54, 0x49, 0x55, 0x53, 0x00, 0x45, 0x01, 0x00, 0xA0, 0xB0, 0xC0, 0xD0, 0x00, 0x00, 0x00, 0x03},
     Controller, "Suite Controller", nullptr, 0, "", "Zandrel Software", nullptr, "3.0.0",
     "VST 3.7.9", nullptr, 0},
};
#elif VST3_MODE == VST3_LEGACY
// 4C454741 43590001 00000000 00000001
const ClassSpec Classes[] = {
    {{0x41, 0x47, 0x45, 0x4C, 0x59, 0x43, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
     AudioModule, "Legacy Mono", nullptr, 0, "", "", nullptr, "", "", BUSES(MonoToStereoBuses)},
};
#elif VST3_MODE == VST3_UNICODE_NAMES
// 554E4943 4F444500 00000000 00000001
const ClassSpec Classes[] = {
    {{0x43, 0x49, 0x4E, 0x55, 0x44, 0x4F, 0x00, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
     AudioModule, "Plain Name", L"\u00DCn\u00EFcode N\u00E0me \u266A \U0001D11E", kDistributable,
     "Fx", "Plain Vendor", L"Zandrel S\u00F6ftware", "2.0.0", "VST 3.7.9", BUSES(EffectBuses)},
};
#elif VST3_MODE == VST3_UNICODE_ONLY
// 5A554E49 434F4445 4F4E4C59 0000000N
const ClassSpec Classes[] = {
    {{0x49, 0x4E, 0x55, 0x5A, 0x4F, 0x43, 0x45, 0x44, 0x4F, 0x4E, 0x4C, 0x59, 0x00, 0x00, 0x00, 0x01},
     AudioModule, "Gr\xC3\xBC\xC3\x9F" "e Gain", L"Gr\u00FC\u00DFe Gain", kDistributable, "Fx", "", nullptr,
     "1.0.0", "VST 3.7.9", BUSES(EffectBuses), 1},
    {{0x49, 0x4E, 0x55, 0x5A, 0x4F, 0x43, 0x45, 0x44, 0x4F, 0x4E, 0x4C, 0x59, 0x00, 0x00, 0x00, 0x02},
     Controller, "Gr\xC3\xBC\xC3\x9F" "e Gain Controller", L"Gr\u00FC\u00DFe Gain Controller", 0, "", "",
     nullptr, "1.0.0", "VST 3.7.9", nullptr, 0},
};
#elif VST3_MODE == VST3_ARA
// 4F415241 45464645 43540000 0000000N
const ClassSpec Classes[] = {
    {{0x41, 0x52, 0x41, 0x4F, 0x46, 0x45, 0x45, 0x46, 0x43, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
     AudioModule, "Orvanta ARA Effect", nullptr, kDistributable, "Fx", "Zandrel Software", nullptr, "1.0.0",
     "VST 3.7.9", BUSES(EffectBuses), 2},
    {{0x41, 0x52, 0x41, 0x4F, 0x46, 0x45, 0x45, 0x46, 0x43, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02},
     AraMainFactory, "Orvanta ARA Effect", nullptr, kDistributable, "", "Zandrel Software", nullptr, "1.0.0",
     "VST 3.7.9", nullptr, 0},
    {{0x41, 0x52, 0x41, 0x4F, 0x46, 0x45, 0x45, 0x46, 0x43, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03},
     Controller, "Orvanta ARA Effect Controller", nullptr, 0, "", "Zandrel Software", nullptr, "1.0.0",
     "VST 3.7.9", nullptr, 0},
};
#else
// The hostile ones: 484F5354 494C4500 00000000 000000MM, MM the mode (and
// the mode + 80 for the second class of the text variant).
const ClassSpec Classes[] = {
    {{0x54, 0x53, 0x4F, 0x48, 0x4C, 0x49, 0x00, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      VST3_MODE},
     AudioModule, "Hostile Fixture", nullptr, kDistributable, "Fx", "Zandrel Software", nullptr,
     "1.0.0", "VST 3.7.9", BUSES(EffectBuses)},
#if VST3_MODE == VST3_BAD_TEXTS
    {{0x54, 0x53, 0x4F, 0x48, 0x4C, 0x49, 0x00, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      VST3_MODE + 0x80},
     AudioModule, "Hostile Fixture", nullptr, kDistributable, "Fx", "Zandrel Software", nullptr,
     "1.0.0", "VST 3.7.9", BUSES(EffectBuses)},
#endif
};
#endif

const int ClassCount = (int)(sizeof Classes / sizeof Classes[0]);

void CopyText(char* to, int size, const char* text)
{
    int i = 0;
    for (; text[i] && i < size - 1; i++)
        to[i] = text[i];
    to[i] = 0;
}

void CopyWide(char16* to, int size, const wchar_t* text)
{
    int i = 0;
    for (; text[i] && i < size - 1; i++)
        to[i] = text[i];
    to[i] = 0;
}

void WidenText(char16* to, int size, const char* text)
{
    int i = 0;
    for (; text[i] && i < size - 1; i++)
        to[i] = (unsigned char)text[i];
    to[i] = 0;
}

// Fills the whole array with the text repeated, no terminator.
template <typename Ch>
void Fill(Ch* to, int size, Ch c)
{
    for (int i = 0; i < size; i++)
        to[i] = c;
}

const ClassSpec* FindClass(const char* cid)
{
    for (const ClassSpec& spec : Classes)
        if (memcmp(spec.cid, cid, 16) == 0)
            return &spec;
    return nullptr;
}

// What CoInitializeEx(COINIT_MULTITHREADED) says on this thread; undone
// when it initialised COM itself.
[[maybe_unused]] HRESULT ComState()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result))
        CoUninitialize();
    return result;
}

// ------------------------------------------------------------ the component

class Component final : public IComponent
{
public:
    explicit Component(const ClassSpec* spec) : m_spec(spec) {}
    ~Component() = default;

    tresult VST3_API queryInterface(const TUID iid, void** obj) override
    {
        if (SameUid(iid, FUnknown_iid) || SameUid(iid, IPluginBase_iid) || SameUid(iid, IComponent_iid))
        {
            addRef();
            *obj = this;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_API addRef() override { return (uint32_t)InterlockedIncrement(&m_refs); }
    uint32_t VST3_API release() override
    {
        if (VST3_MODE == VST3_CRASH_CLEANUP)
            Crash();
        LONG left = InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return (uint32_t)left;
    }

    tresult VST3_API initialize(FUnknown* context) override
    {
        if (VST3_MODE == VST3_CRASH_INITIALIZE)
            Crash();
        if (VST3_MODE == VST3_HANG_INITIALIZE)
            Sleep(INFINITE);
        if (VST3_MODE == VST3_DIALOG_INITIALIZE)
            MessageBoxW(nullptr, L"Please insert your dongle", L"Licence check", MB_OK);
        if (VST3_MODE == VST3_INSTRUMENT)
            return CheckHost(context);
        return kResultOk;
    }
    tresult VST3_API terminate() override
    {
        if (VST3_MODE == VST3_CRASH_CLEANUP)
            Crash();
        return kResultOk;
    }

    tresult VST3_API getControllerClassId(TUID classId) override
    {
        if (m_spec->controller < 0)
        {
            memset(classId, 0, 16);
            return kNotImplemented;
        }
        memcpy(classId, Classes[m_spec->controller].cid, 16);
        return kResultOk;
    }
    tresult VST3_API setIoMode(int32_t) override { return kResultOk; }
    int32_t VST3_API getBusCount(int32_t type, int32_t dir) override
    {
        if (VST3_MODE == VST3_MANY_CLASSES)
            return 1000000;
        int32_t n = 0;
        for (int i = 0; i < m_spec->busCount; i++)
            if (m_spec->buses[i].media == type && m_spec->buses[i].direction == dir)
                n++;
        return n;
    }
    tresult VST3_API getBusInfo(int32_t type, int32_t dir, int32_t index, BusInfo& bus) override
    {
        if (VST3_MODE == VST3_MANY_CLASSES)
        {
            bus.mediaType = type;
            bus.direction = dir;
            bus.channelCount = 1;
            swprintf(bus.name, 128, L"Bus %d", (int)index);
            bus.busType = kMain;
            bus.flags = kDefaultActive;
            return kResultOk;
        }
        if (VST3_MODE == VST3_BAD_TEXTS)
        {
            // The name fills all 128 units, no terminator.
            bus.mediaType = type;
            bus.direction = dir;
            bus.channelCount = 2;
            Fill<char16>(bus.name, 128, L'b');
            bus.busType = kMain;
            bus.flags = kDefaultActive;
            return kResultOk;
        }
        for (int i = 0; i < m_spec->busCount; i++)
        {
            const BusSpec& spec = m_spec->buses[i];
            if (spec.media != type || spec.direction != dir || index-- != 0)
                continue;
            bus.mediaType = type;
            bus.direction = dir;
            bus.channelCount = spec.channels;
            CopyWide(bus.name, 128, spec.name);
            bus.busType = spec.busType;
            bus.flags = spec.flags;
            return kResultOk;
        }
        return kInvalidArgument;
    }
    tresult VST3_API getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
    tresult VST3_API activateBus(int32_t, int32_t, int32_t, TBool) override { return kResultOk; }
    tresult VST3_API setActive(TBool) override { return kResultOk; }
    tresult VST3_API setState(IBStream*) override { return kResultOk; }
    tresult VST3_API getState(IBStream*) override { return kResultOk; }

private:
    // What a plugin may ask of the host context it is given.
    static tresult CheckHost(FUnknown* context)
    {
        IHostApplication* host = nullptr;
        if (!context || context->queryInterface(IHostApplication_iid, (void**)&host) != kResultOk || !host)
            return kNoInterface;
        String128 name;
        tresult named = host->getName(name);
        void* made = (void*)1;
        TUID none = {};
        tresult created = host->createInstance(none, none, &made);
        host->release();
        if (named != kResultOk || wcscmp(name, L"Orvanta Plugin Scanner") != 0)
            return kInternalError;
        if (created == kResultOk || made != nullptr)
            return kNotInitialized;
        return kResultOk;
    }

    const ClassSpec* m_spec;
    volatile LONG m_refs = 0;
};

// -------------------------------------------------------------- the factory

bool Initialised = false;

class Factory : public IPluginFactory3
{
public:
    tresult VST3_API queryInterface(const TUID iid, void** obj) override
    {
        if (SameUid(iid, FUnknown_iid) || SameUid(iid, IPluginFactory_iid) ||
            (FactoryLevel >= 2 && SameUid(iid, IPluginFactory2_iid)) ||
            (FactoryLevel >= 3 && SameUid(iid, IPluginFactory3_iid)))
        {
            addRef();
            *obj = this;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_API addRef() override { return (uint32_t)InterlockedIncrement(&m_refs); }
    // The last release is the host's own; the ones before give back what
    // queryInterface handed out.
    uint32_t VST3_API release() override
    {
        LONG left = InterlockedDecrement(&m_refs);
        if (VST3_MODE == VST3_CRASH_CLEANUP && left == 0)
            Crash();
        return (uint32_t)left;
    }
    LONG References() const { return m_refs; }

    tresult VST3_API getFactoryInfo(PFactoryInfo* info) override
    {
        if (VST3_MODE == VST3_BAD_TEXTS)
        {
            // Vendor and URL fill their arrays; the e-mail holds bytes that
            // are not UTF-8 and fills its array too.
            Fill<char>(info->vendor, 64, 'V');
            memcpy(info->url, "https://", 8);
            Fill<char>(info->url + 8, 248, 'u');
            static const char email[] = "\xFF\xFE"           // never in UTF-8
                                        "caf\xC3\xA9"         // a whole sequence
                                        "\xE2\x82" "x"        // cut short
                                        "\xC0\xAF"            // overlong '/'
                                        "\xED\xA0\x80"        // a surrogate
                                        "\xF0\x9D\x84\x9E"    // a whole four-byte sequence
                                        "\x80";               // a stray continuation
            memcpy(info->email, email, sizeof email - 1);
            Fill<char>(info->email + sizeof email - 1, 128 - (int)(sizeof email - 1), 'e');
            info->flags = 0x41414141; // "AAAA" right after the e-mail
            return kResultOk;
        }
        if (VST3_MODE == VST3_COM_STATE)
        {
            char vendor[64];
            snprintf(vendor, sizeof vendor, "COM %.8lX", ComState());
            CopyText(info->vendor, 64, vendor);
            CopyText(info->url, 256, "");
            CopyText(info->email, 128, "");
            info->flags = 0;
            return kResultOk;
        }
        CopyText(info->vendor, 64, "Zandrel Software");
        CopyText(info->url, 256, "https://zandrel.example/plugins");
        CopyText(info->email, 128, "support@zandrel.example");
        info->flags = kUnicode;
        return kResultOk;
    }

    int32_t VST3_API countClasses() override
    {
        if (VST3_MODE == VST3_MANY_CLASSES)
            return 1000000;
        if (VST3_MODE == VST3_COM_STATE)
            return 0;
        return ClassCount;
    }

    tresult VST3_API getClassInfo(int32_t index, PClassInfo* info) override
    {
        if (VST3_MODE == VST3_CRASH_CLASS_INFO)
            Crash();
        if (VST3_MODE == VST3_UNICODE_ONLY)
            return kResultFalse;
        if (VST3_MODE == VST3_MANY_CLASSES)
            return ManyClassInfo(index, info->cid, info->category, info->name);
        const ClassSpec* spec = Spec(index);
        if (!spec)
            return kInvalidArgument;
        memcpy(info->cid, spec->cid, 16);
        info->cardinality = kManyInstances;
        CopyText(info->category, 32, spec->category);
        CopyText(info->name, 64, spec->name);
        if (VST3_MODE == VST3_BAD_TEXTS && index == 1)
        {
            Fill<char>(info->category, 32, 'C');
            Fill<char>(info->name, 64, 'N');
        }
        return kResultOk;
    }

    tresult VST3_API createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        *obj = nullptr;
        static const char firstOfMany[16] = {0x59, 0x4E, 0x41, 0x4D};
        const ClassSpec* spec =
            VST3_MODE == VST3_MANY_CLASSES && memcmp(cid, firstOfMany, 16) == 0 ? &Classes[0] : FindClass(cid);
        if (!spec)
            return kInvalidArgument;
        if (strcmp(spec->category, AudioModule) != 0)
            return kNoInterface;
        Component* component = new Component(spec);
        tresult result = component->queryInterface(iid, obj);
        if (result != kResultOk)
            delete component;
        return result;
    }

    tresult VST3_API getClassInfo2(int32_t index, PClassInfo2* info) override
    {
        if (VST3_MODE == VST3_CRASH_CLASS_INFO)
            Crash();
        if (VST3_MODE == VST3_UNICODE_ONLY)
            return kResultFalse;
        if (VST3_MODE == VST3_MANY_CLASSES)
            return ManyClassInfo(index, info->cid, info->category, info->name);
        const ClassSpec* spec = Spec(index);
        if (!spec)
            return kInvalidArgument;
        memcpy(info->cid, spec->cid, 16);
        info->cardinality = kManyInstances;
        CopyText(info->category, 32, spec->category);
        CopyText(info->name, 64, spec->name);
        info->classFlags = spec->classFlags;
        CopyText(info->subCategories, 128, spec->subCategories);
        CopyText(info->vendor, 64, spec->vendor);
        CopyText(info->version, 64, spec->version);
        CopyText(info->sdkVersion, 64, spec->sdkVersion);
        if (VST3_MODE == VST3_BAD_TEXTS && index == 1)
        {
            // Category, name and sub-categories fill their arrays; the
            // vendor starts and ends with bytes that are not UTF-8 and
            // fills the rest; and the plugin writes on past the
            // structure's end.
            Fill<char>(reinterpret_cast<char*>(info) + sizeof *info, 16, 'X');
            Fill<char>(info->category, 32, 'C');
            Fill<char>(info->name, 64, 'N');
            memcpy(info->subCategories, "Fx|", 3);
            Fill<char>(info->subCategories + 3, 125, 'S');
            Fill<char>(info->vendor, 64, 'v');
            memcpy(info->vendor, "\x80\x81Zandrel", 9);
            info->vendor[63] = '\xF5';
        }
        return kResultOk;
    }

    tresult VST3_API getClassInfoUnicode(int32_t index, PClassInfoW* info) override
    {
        if (VST3_MODE == VST3_CRASH_CLASS_INFO)
            Crash();
        if (VST3_MODE == VST3_MANY_CLASSES || (VST3_MODE == VST3_BAD_TEXTS && index == 1))
            return kResultFalse; // level 2 for these
        const ClassSpec* spec = Spec(index);
        if (!spec)
            return kInvalidArgument;
        memcpy(info->cid, spec->cid, 16);
        info->cardinality = kManyInstances;
        CopyText(info->category, 32, spec->category);
        if (spec->nameW)
            CopyWide(info->name, 64, spec->nameW);
        else
            WidenText(info->name, 64, spec->name);
        info->classFlags = spec->classFlags;
        CopyText(info->subCategories, 128, spec->subCategories);
        if (spec->vendorW)
            CopyWide(info->vendor, 64, spec->vendorW);
        else
            WidenText(info->vendor, 64, spec->vendor);
        WidenText(info->version, 64, spec->version);
        WidenText(info->sdkVersion, 64, spec->sdkVersion);
        if (VST3_MODE == VST3_BAD_TEXTS)
        {
            // The name: an unpaired high and low surrogate, a whole pair,
            // then filled up. The vendor ends in a high surrogate in its
            // last unit (the version's first unit must not pair with it).
            static const char16 name[] = {L'W', 0xD834, L'a', 0xDD1E, 0xD834, 0xDD1E};
            Fill<char16>(info->name, 64, L'w');
            memcpy(info->name, name, sizeof name);
            Fill<char>(info->subCategories, 128, 's');
            Fill<char16>(info->vendor, 64, L'z');
            info->vendor[63] = 0xD834;
            info->version[0] = 0xDD1E;
            info->version[1] = L'1';
            info->version[2] = 0;
            Fill<char16>(info->sdkVersion, 64, L'9');
        }
        return kResultOk;
    }

    tresult VST3_API setHostContext(FUnknown* context) override
    {
        // Kept for ever, as real plugins do.
        if (context)
            context->addRef();
        return kResultOk;
    }

private:
    static const ClassSpec* Spec(int32_t index)
    {
        return index >= 0 && index < ClassCount ? &Classes[index] : nullptr;
    }

    // Class N of the endless factory: 4D414E59 00000000 00000000 N.
    static tresult ManyClassInfo(int32_t index, char* cid, char* category, char* name)
    {
        static const unsigned char head[8] = {0x59, 0x4E, 0x41, 0x4D, 0, 0, 0, 0};
        memcpy(cid, head, 8);
        memset(cid + 8, 0, 4);
        cid[12] = (char)(index >> 24);
        cid[13] = (char)(index >> 16);
        cid[14] = (char)(index >> 8);
        cid[15] = (char)index;
        CopyText(category, 32, index == 0 ? AudioModule : Controller);
        snprintf(name, 64, "Class %d", (int)index);
        return kResultOk;
    }

    volatile LONG m_refs = 0;
};

Factory TheFactory;

} // namespace

// ---------------------------------------------------------------- exports

extern "C" __declspec(dllexport) IPluginFactory* VST3_API GetPluginFactory()
{
    if (VST3_MODE == VST3_CRASH_GET_FACTORY)
        Crash();
    if (VST3_MODE == VST3_NULL_FACTORY)
        return nullptr;
    if (VST3_MODE == VST3_EFFECT && !Initialised)
        Crash();
    TheFactory.addRef();
    return &TheFactory;
}

#if MODULE_ENTRY
extern "C" __declspec(dllexport) bool VST3_API InitDll()
{
    if (VST3_MODE == VST3_CRASH_INIT_DLL)
        Crash();
    Initialised = true;
    return true;
}

extern "C" __declspec(dllexport) bool VST3_API ExitDll()
{
    if (VST3_MODE == VST3_CRASH_CLEANUP)
        Crash();
    if (VST3_MODE == VST3_HANG_EXIT_DLL)
        Sleep(INFINITE);
    if (VST3_MODE == VST3_EFFECT && (!Initialised || TheFactory.References() != 0))
        Crash();
    Initialised = false;
    return true;
}
#endif

#if VST3_MODE == VST3_COM_STATE
namespace {

intptr_t Dispatch(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float)
{
    char* text = static_cast<char*>(ptr);
    switch (opcode)
    {
    case effGetEffectName:
        snprintf(text, 64, "COM %.8lX", ComState());
        return 1;
    case effGetVendorString:
        strcpy(text, "Zandrel Software");
        return 1;
    case effGetProductString:
        strcpy(text, "Orvanta Fixtures");
        return 1;
    case effGetPlugCategory:
        return kPlugCategEffect;
    case effCanDo:
        return -1;
    default:
        return 0;
    }
}

AEffect Effect;

} // namespace

extern "C" __declspec(dllexport) AEffect* VSTPluginMain(AudioMasterCallback)
{
    memset(&Effect, 0, sizeof Effect);
    Effect.magic = kEffectMagic;
    Effect.dispatcher = Dispatch;
    Effect.numInputs = 2;
    Effect.numOutputs = 2;
    Effect.uniqueID = 0x436F6D53; // "ComS"
    return &Effect;
}
#endif
