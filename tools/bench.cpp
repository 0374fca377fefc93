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
#include "bench_clock.h"
#include "build_paths.h"
#include "host/vst2_abi.h"
#include "pipe_host.h"
#include "text.h"
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

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
    return 0;
}
