// Prints how fast the server scans, against the floor that the protocol and
// the plugin set, and how long the server takes to start.
//   bench [SCANS]
// (a) server: scans per second of one small plugin through the real pipes,
//     with a host that reads whole chunks;
// (b) bare: the same DLL loaded, called and freed in one process, with no
//     pipes and no logging;
// (c) pipe floor: a child process that answers each request with the same
//     number of lines of the same lengths as the server did, each with its
//     own write and flush, and no plugin at all.
// Every line is flushed, so (b) + (c) is the floor for one scan.
//
// The same three for a VST3 module: one scan is a module request and a
// class request of the fixture effect bundle, against two copies of its
// binary in turn, so each scan frees the other copy and loads afresh (the
// server's cache would otherwise keep it); the bare loop makes the same
// calls (COM apartment, load, InitDll, factory, host context, factory and
// class infos, instance, initialize, buses, terminate, release, factory
// release, ExitDll, free).
//
// And for a CLAP module: one scan is a module request, a plugin request and
// the free request of the fixture effect, so each scan loads afresh; the
// bare loop makes the same calls (load, entry, init, factory, descriptors,
// the two link factories, create_plugin, init, audio and note ports,
// destroy, deinit, free).
//
// Built for each machine: bin\server_bench.exe measures the 64-bit server,
// bin\x86\server_bench.exe the 32-bit one with the 32-bit fixtures (its own
// machine, see tests/support/machines.h), each with a bare loop of its own.
#include "bench_clock.h"
#include "build_paths.h"
#include "machines.h"
#include "host/clap_abi.h"
#include "host/vst2_abi.h"
#include "host/vst3_abi.h"
#include "pipe_host.h"
#include "scratch_folder.h"
#include "text.h"
#include <objbase.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

using testsupport::BinPath;
using testsupport::FixtureBinPath;
using testsupport::SamplePath;
using testsupport::ServerOptions;
using testsupport::ServerProcess;
using testsupport::Utf8;

static std::vector<int> LineLengths(const std::string& answer)
{
    std::vector<int> lengths;
    size_t start = 0;
    for (size_t at = answer.find('\n'); at != std::string::npos; at = answer.find('\n', start))
    {
        lengths.push_back((int)(at + 1 - start));
        start = at + 1;
    }
    return lengths;
}

// (a)
static double ServerSecondsPerScan(const std::string& request, int scans, std::string* oneAnswer)
{
    ServerProcess server;
    if (!server.Start())
        return -1;
    server.ReadUntilReady();
    *oneAnswer = server.Request(request); // warm the file cache
    double start = Now();
    for (int i = 0; i < scans; i++)
        server.Request(request);
    double seconds = (Now() - start) / scans;
    server.CloseInput();
    server.WaitExit();
    return seconds;
}

// (b): the plugin calls the probe makes, with a silent host callback.
static intptr_t SilentHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

static double BareSecondsPerScan(const std::wstring& path, int scans)
{
    double start = Now();
    for (int i = 0; i < scans; i++)
    {
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module)
            return -1;
        GetProcAddress(module, "JBridgeBootstrap");
        PluginEntryProc entry = (PluginEntryProc)(void*)GetProcAddress(module, "VSTPluginMain");
        AEffect* effect = entry(SilentHost);
        FindResourceW(module, MAKEINTRESOURCEW(165), L"SE1");
        char text[512];
        for (int32_t opcode : {effGetEffectName, effGetVendorString, effGetProductString})
        {
            text[0] = 0;
            effect->dispatcher(effect, opcode, 0, 0, text, 0);
        }
        effect->dispatcher(effect, effGetPlugCategory, 0, 0, nullptr, 0);
        for (const char* can : {"receiveVstMidiEvent", "receiveVstEvents", "sendVstMidiEvent",
                                "sendVstEvents"})
        {
            strcpy(text, can);
            effect->dispatcher(effect, effCanDo, 0, 0, text, 0);
        }
        effect->dispatcher(effect, effGetVendorVersion, 0, 0, nullptr, 0);
        effect->dispatcher(effect, effClose, 0, 0, nullptr, 0);
        FreeLibrary(module);
    }
    return (Now() - start) / scans;
}

// (c): this program again, in floor mode, as the server's stand-in.
static double FloorSecondsPerScan(const std::vector<int>& lengths, int scans)
{
    std::wstring args = L" --floor";
    for (int n : lengths)
        args += L" " + std::to_wstring(n);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ServerOptions options;
    options.exePath = self;
    options.extraArgs = args;
    ServerProcess floor;
    if (!floor.Start(options))
        return -1;
    floor.ReadUntilReady();
    floor.Request("warm");
    double start = Now();
    for (int i = 0; i < scans; i++)
        floor.Request("request");
    double seconds = (Now() - start) / scans;
    floor.CloseInput();
    floor.WaitExit();
    return seconds;
}

// Floor mode: argv = exe, input, output, window, --floor, lengths... Each
// request gets lines of the given lengths (the last one "ready:\n"), each
// written and flushed on its own.
static int RunFloor(int argc, wchar_t** argv)
{
    HANDLE in = (HANDLE)(uintptr_t)wcstoull(argv[1], nullptr, 16);
    HANDLE out = (HANDLE)(uintptr_t)wcstoull(argv[2], nullptr, 16);
    std::vector<std::string> lines;
    for (int i = 5; i < argc; i++)
    {
        int n = _wtoi(argv[i]);
        lines.push_back(i == argc - 1 ? std::string("ready:\n")
                                      : std::string(n > 1 ? n - 1 : 0, 'x') + "\n");
    }
    DWORD done = 0;
    WriteFile(out, "ready:\n", 7, &done, nullptr);
    FlushFileBuffers(out);
    char request[1024];
    while (ReadFile(in, request, sizeof request, &done, nullptr) && done)
    {
        for (const std::string& line : lines)
        {
            WriteFile(out, line.data(), (DWORD)line.size(), &done, nullptr);
            FlushFileBuffers(out);
        }
    }
    return 0;
}

// ------------------------------------------------------------------ VST3

// (a): module request and class request of each binary in turn; the
// answers of one steady-state scan (which frees the other copy) go back.
static double ServerSecondsPerVst3Scan(const std::string& first, const std::string& second,
                                       const std::string& cid, int scans, std::string* moduleAnswer,
                                       std::string* classAnswer)
{
    ServerProcess server;
    if (!server.Start())
        return -1;
    server.ReadUntilReady();
    for (const std::string* binary : {&first, &second}) // warm the file cache
    {
        server.Request("vst3|" + *binary);
        server.Request("vst3|" + *binary + ">" + cid);
    }
    double start = Now();
    for (int i = 0; i < scans; i++)
    {
        const std::string& binary = i % 2 ? second : first;
        *moduleAnswer = server.Request("vst3|" + binary);
        *classAnswer = server.Request("vst3|" + binary + ">" + cid);
    }
    double seconds = (Now() - start) / scans;
    server.CloseInput();
    server.WaitExit();
    return seconds;
}

// (b): a host context that answers as little as a plugin needs.
class BareHost : public Vst3::IHostApplication
{
public:
    Vst3::tresult VST3_API queryInterface(const Vst3::TUID iid, void** obj) override
    {
        *obj = Vst3::SameUid(iid, Vst3::FUnknown_iid) || Vst3::SameUid(iid, Vst3::IHostApplication_iid)
                   ? this
                   : nullptr;
        return *obj ? Vst3::kResultOk : Vst3::kNoInterface;
    }
    uint32_t VST3_API addRef() override { return 1; }
    uint32_t VST3_API release() override { return 1; }
    Vst3::tresult VST3_API getName(Vst3::String128 name) override
    {
        wcscpy(name, L"bench");
        return Vst3::kResultOk;
    }
    Vst3::tresult VST3_API createInstance(Vst3::TUID, Vst3::TUID, void** obj) override
    {
        *obj = nullptr;
        return Vst3::kNotImplemented;
    }
};

template <typename Interface>
static Interface* Query(Vst3::FUnknown* object, const Vst3::TUID iid)
{
    void* result = nullptr;
    return object->queryInterface(iid, &result) == Vst3::kResultOk ? static_cast<Interface*>(result) : nullptr;
}

static double BareSecondsPerVst3Scan(const std::wstring& first, const std::wstring& second, int scans)
{
    BareHost host;
    union {
        Vst3::PFactoryInfo factory;
        Vst3::PClassInfo plain;
        Vst3::PClassInfo2 info2;
        Vst3::PClassInfoW wide;
        Vst3::BusInfo bus;
    } info;
    double start = Now();
    for (int i = 0; i < scans; i++)
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        HMODULE module = LoadLibraryExW((i % 2 ? second : first).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module)
            return -1;
        auto initDll = (Vst3::InitModuleProc)(void*)GetProcAddress(module, "InitDll");
        auto exitDll = (Vst3::ExitModuleProc)(void*)GetProcAddress(module, "ExitDll");
        auto getFactory = (Vst3::GetFactoryProc)(void*)GetProcAddress(module, "GetPluginFactory");
        if (initDll)
            initDll();
        Vst3::IPluginFactory* factory = getFactory();
        if (auto* factory3 = Query<Vst3::IPluginFactory3>(factory, Vst3::IPluginFactory3_iid))
        {
            factory3->setHostContext(&host);
            factory3->release();
        }
        factory->getFactoryInfo(&info.factory);
        auto* factory2 = Query<Vst3::IPluginFactory2>(factory, Vst3::IPluginFactory2_iid);
        auto* factory3 = Query<Vst3::IPluginFactory3>(factory, Vst3::IPluginFactory3_iid);
        int32_t classes = factory->countClasses();
        Vst3::TUID cid = {};
        for (int32_t c = 0; c < classes; c++)
        {
            factory->getClassInfo(c, &info.plain);
            memcpy(cid, info.plain.cid, sizeof cid);
            factory2->getClassInfo2(c, &info.info2);
            factory3->getClassInfoUnicode(c, &info.wide);
        }
        factory3->release();
        factory2->release();
        void* object = nullptr;
        factory->createInstance(cid, Vst3::IComponent_iid, &object);
        auto* component = static_cast<Vst3::IComponent*>(object);
        component->initialize(&host);
        for (int32_t media = Vst3::kAudio; media <= Vst3::kEvent; media++)
            for (int32_t direction = Vst3::kInput; direction <= Vst3::kOutput; direction++)
            {
                int32_t buses = component->getBusCount(media, direction);
                for (int32_t b = 0; b < buses; b++)
                    component->getBusInfo(media, direction, b, info.bus);
            }
        component->terminate();
        component->release();
        factory->release();
        if (exitDll)
            exitDll();
        FreeLibrary(module);
        CoUninitialize();
    }
    return (Now() - start) / scans;
}

static int RunVst3Bench(int scans)
{
    // Two copies of the fixture effect's binary, so every scan loads afresh.
    testsupport::ScratchFolder folder(L"bench-vst3");
    std::wstring effect = FixtureBinPath(L"vst3\\Vst3Effect.vst3\\Contents\\" +
                                         std::wstring(testsupport::ServerTexts().vst3Folder) +
                                         L"\\Vst3Effect.vst3");
    std::wstring first = folder.Copy(effect, L"BenchA.vst3");
    std::wstring second = folder.Copy(effect, L"BenchB.vst3");
    const std::string cid = "0123456789ABCDEF0123456789ABCDEF";
    std::string moduleAnswer, classAnswer;
    double server = ServerSecondsPerVst3Scan(Utf8(first), Utf8(second), cid, scans, &moduleAnswer, &classAnswer);
    double bare = BareSecondsPerVst3Scan(first, second, scans);
    std::vector<int> moduleLines = LineLengths(moduleAnswer);
    std::vector<int> classLines = LineLengths(classAnswer);
    double floor = FloorSecondsPerScan(moduleLines, scans) + FloorSecondsPerScan(classLines, scans);
    if (server < 0 || bare < 0 || floor < 0 || moduleAnswer.find("error:") != std::string::npos ||
        classAnswer.find("error:") != std::string::npos)
    {
        fprintf(stderr, "bench: a VST3 measurement failed\n%s%s", moduleAnswer.c_str(), classAnswer.c_str());
        return 1;
    }
    printf("\nVST3 module: %s (a module and a class request, %d + %d lines per scan, %d scans each)\n",
           Utf8(effect).c_str(), (int)moduleLines.size(), (int)classLines.size(), scans);
    printf("(a) server:     %8.1f scans/s  %8.3f ms/scan\n", 1 / server, server * 1e3);
    printf("(b) bare loop:  %8.1f scans/s  %8.3f ms/scan\n", 1 / bare, bare * 1e3);
    printf("(c) pipe floor: %8.1f scans/s  %8.3f ms/scan\n", 1 / floor, floor * 1e3);
    printf("floor (b)+(c):  %8.1f scans/s  %8.3f ms/scan\n", 1 / (bare + floor), (bare + floor) * 1e3);
    printf("ratio server / floor: %.3f (target at most 1.25)\n", server / (bare + floor));
    printf("ratio server / bare:  %.2f, server / pipe floor: %.2f\n", server / bare, server / floor);
    return 0;
}

// ------------------------------------------------------------------ CLAP

// (a): module, plugin and free request; the answers of the last scan go
// back.
static double ServerSecondsPerClapScan(const std::string& module, const std::string& id, int scans,
                                       std::string answers[3])
{
    ServerProcess server;
    if (!server.Start())
        return -1;
    server.ReadUntilReady();
    const std::string requests[3] = {"clap|" + module, "clap|" + module + ">" + id, "clap|"};
    for (const std::string& request : requests) // warm the file cache
        server.Request(request);
    double start = Now();
    for (int i = 0; i < scans; i++)
        for (int r = 0; r < 3; r++)
            answers[r] = server.Request(requests[r]);
    double seconds = (Now() - start) / scans;
    server.CloseInput();
    server.WaitExit();
    return seconds;
}

// (b): a host record as complete as the server's, offering nothing.
static const void* NoHostExtension(const Clap::clap_host*, const char*) { return nullptr; }
static void NoRequest(const Clap::clap_host*) {}
static const Clap::clap_host BareClapHost = {
    {1, 2, 2}, nullptr, "Orvanta Plugin Scanner", "Orvanta", "", "1.1.0",
    NoHostExtension, NoRequest, NoRequest, NoRequest};

// Every text a descriptor points at, read to its end as the server copies it.
static size_t TouchText(const char* text) { return text ? strlen(text) : 0; }

static double BareSecondsPerClapScan(const std::wstring& path, int scans)
{
    std::string pathUtf8 = Utf8(path);
    size_t touched = 0;
    double start = Now();
    for (int i = 0; i < scans; i++)
    {
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module)
            return -1;
        auto entry = (const Clap::clap_plugin_entry*)(void*)GetProcAddress(module, "clap_entry");
        if (!entry || !entry->init(pathUtf8.c_str()))
            return -1;
        auto factory = (const Clap::clap_plugin_factory*)entry->get_factory(Clap::PluginFactoryId);
        uint32_t count = factory->get_plugin_count(factory);
        const char* id = nullptr;
        for (uint32_t p = 0; p < count; p++)
        {
            const Clap::clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, p);
            id = d->id;
            touched += TouchText(d->id) + TouchText(d->name) + TouchText(d->vendor) + TouchText(d->url) +
                       TouchText(d->manual_url) + TouchText(d->support_url) + TouchText(d->version_text) +
                       TouchText(d->description);
            for (const char* const* feature = d->features; feature && *feature; feature++)
                touched += TouchText(*feature);
        }
        entry->get_factory(Clap::InfoAsVst3FactoryId);
        entry->get_factory(Clap::StateConverterFactoryId);
        const Clap::clap_plugin* plugin = factory->create_plugin(factory, &BareClapHost, id);
        if (!plugin || !plugin->init(plugin))
            return -1;
        Clap::clap_audio_port_info audio;
        Clap::clap_note_port_info note;
        if (auto ports = (const Clap::clap_plugin_audio_ports*)plugin->get_extension(plugin, Clap::AudioPortsId))
            for (bool input : {true, false})
                for (uint32_t n = ports->count(plugin, input), k = 0; k < n; k++)
                    ports->get(plugin, k, input, &audio);
        if (auto ports = (const Clap::clap_plugin_note_ports*)plugin->get_extension(plugin, Clap::NotePortsId))
            for (bool input : {true, false})
                for (uint32_t n = ports->count(plugin, input), k = 0; k < n; k++)
                    ports->get(plugin, k, input, &note);
        plugin->destroy(plugin);
        entry->deinit();
        FreeLibrary(module);
    }
    double seconds = (Now() - start) / scans;
    return touched > 0 ? seconds : -1;
}

static int RunClapBench(int scans)
{
    std::wstring module = FixtureBinPath(L"clap\\ClapEffect.clap");
    std::string answers[3];
    double server = ServerSecondsPerClapScan(Utf8(module), "com.zandrel.orvanta-effect", scans, answers);
    double bare = BareSecondsPerClapScan(module, scans);
    double floor = 0;
    int lines = 0;
    for (const std::string& answer : answers)
    {
        std::vector<int> lengths = LineLengths(answer);
        floor += FloorSecondsPerScan(lengths, scans);
        lines += (int)lengths.size();
    }
    if (server < 0 || bare < 0 || floor < 0 || (answers[0] + answers[1]).find("error:") != std::string::npos)
    {
        fprintf(stderr, "bench: a CLAP measurement failed\n%s%s", answers[0].c_str(), answers[1].c_str());
        return 1;
    }
    printf("\nCLAP module: %s (a module, a plugin and a free request, %d lines per scan, %d scans each)\n",
           Utf8(module).c_str(), lines, scans);
    printf("(a) server:     %8.1f scans/s  %8.3f ms/scan\n", 1 / server, server * 1e3);
    printf("(b) bare loop:  %8.1f scans/s  %8.3f ms/scan\n", 1 / bare, bare * 1e3);
    printf("(c) pipe floor: %8.1f scans/s  %8.3f ms/scan\n", 1 / floor, floor * 1e3);
    printf("floor (b)+(c):  %8.1f scans/s  %8.3f ms/scan\n", 1 / (bare + floor), (bare + floor) * 1e3);
    printf("ratio server / floor: %.3f (target at most 1.25)\n", server / (bare + floor));
    printf("ratio server / bare:  %.2f, server / pipe floor: %.2f\n", server / bare, server / floor);
    return 0;
}

static double StartupSeconds(int runs)
{
    double total = 0;
    for (int i = 0; i < runs; i++)
    {
        ServerProcess server;
        double start = Now();
        server.Start();
        server.ReadUntilReady();
        total += Now() - start;
        server.CloseInput();
        server.WaitExit();
    }
    return total / runs;
}

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc > 4 && wcscmp(argv[4], L"--floor") == 0)
        return RunFloor(argc, argv);
    int scans = argc > 1 ? _wtoi(argv[1]) : 300;
    if (scans <= 0)
        scans = 300;

    std::wstring plugin = SamplePath(L"SampleEffect");
    std::string request = Utf8(plugin);
    std::string answer;
    double server = ServerSecondsPerScan(request, scans, &answer);
    double bare = BareSecondsPerScan(plugin, scans);
    std::vector<int> lengths = LineLengths(answer);
    double floor = FloorSecondsPerScan(lengths, scans);
    if (server < 0 || bare < 0 || floor < 0)
    {
        fprintf(stderr, "bench: a measurement failed to start\n");
        return 1;
    }
    char display[256] = "";
    bool hasDisplay = GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
    double startup = StartupSeconds(10);

    printf("server: %s (%s)\n", Utf8(testsupport::ServerExePath()).c_str(),
           testsupport::ServerTexts().platform);
    printf("plugin: %s (%d lines per scan, %d scans each)\n", request.c_str(),
           (int)lengths.size(), scans);
    printf("(a) server:     %8.1f scans/s  %8.3f ms/scan\n", 1 / server, server * 1e3);
    printf("(b) bare loop:  %8.1f scans/s  %8.3f ms/scan\n", 1 / bare, bare * 1e3);
    printf("(c) pipe floor: %8.1f scans/s  %8.3f ms/scan\n", 1 / floor, floor * 1e3);
    printf("floor (b)+(c):  %8.1f scans/s  %8.3f ms/scan\n", 1 / (bare + floor),
           (bare + floor) * 1e3);
    printf("ratio server / floor: %.3f (target at most 1.25)\n", server / (bare + floor));
    printf("ratio server / bare:  %.2f, server / pipe floor: %.2f\n", server / bare,
           server / floor);
    printf("start-up to first ready (%s): %.1f ms (mean of 10)\n",
           hasDisplay ? "with a display" : "without a display", startup * 1e3);
    fflush(stdout);
    int failed = RunVst3Bench(scans);
    fflush(stdout);
    return RunClapBench(scans) | failed;
}
