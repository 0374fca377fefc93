// list_plugins: what a host does with the client library, start to end.
// Finds the plugin modules under the folders given, scans the new and
// changed ones with a scan session (a pool of scan servers, each result
// written to the database as it comes), shows its progress, cancels it on
// Ctrl+C, and prints one line per plugin.
//
//   list_plugins.exe DATABASE SERVER FOLDER...
#include <orvanta/database.h>
#include <orvanta/paths.h>
#include <orvanta/session.h>
#include <orvanta/text.h>
#include <windows.h>
#include <shellapi.h>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::atomic<orvanta::ScanSession*> session{nullptr};

// Ctrl+C ends the scan at once; what finished stays in the database.
BOOL WINAPI OnCtrlC(DWORD event)
{
    if (event != CTRL_C_EVENT || !session)
        return FALSE;
    session.load()->Cancel();
    return TRUE;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4)
    {
        std::fprintf(stderr, "usage: list_plugins DATABASE SERVER FOLDER...\n");
        return 2;
    }
    orvanta::PluginDatabase db;
    std::string error;
    if (!db.Open(argv[1], &error))
    {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    orvanta::SessionSetup setup;
    setup.paths.assign(argv + 3, argv + argc);
    setup.server.serverExe = argv[2];
    setup.server.dumpFolder = orvanta::FullPath(L"dumps");
    setup.server.timeoutMs = 10000;
    setup.servers = 2;

    // Callbacks run on the thread that runs the session, one at a time.
    orvanta::SessionCallbacks callbacks;
    callbacks.onModule = [](const orvanta::ModuleRecord& record) {
        std::fprintf(stderr, "scanned %s: %s\n", orvanta::ToUtf8(record.result.path).c_str(),
                     orvanta::StatusName(record.result.status));
    };
    callbacks.onDialog = [](size_t, const std::vector<orvanta::DialogWindow>& windows) {
        if (!windows.empty())
            std::fprintf(stderr, "waiting on %s\n", orvanta::DialogText(windows).c_str());
    };
    orvanta::SessionOutcome outcome;
    {
        orvanta::ScanSession scan(db, setup, callbacks);
        session = &scan;
        SetConsoleCtrlHandler(OnCtrlC, TRUE);
        outcome = scan.Run();
        session = nullptr;
    }
    for (const std::string& e : outcome.errors)
        std::fprintf(stderr, "%s\n", e.c_str());
    if (outcome.status == orvanta::SessionStatus::failed)
        return 2;
    if (outcome.status == orvanta::SessionStatus::cancelled)
        std::fprintf(stderr, "cancelled: %zu modules not scanned\n", outcome.notScanned.size());

    // Every plugin the database knows, scanned now or before.
    for (const orvanta::ModuleRecord& record : db.Modules())
    {
        std::string file = orvanta::ToUtf8(orvanta::FileNameOf(record.result.path));
        if (record.result.plugins.empty())
            std::printf("%-8s %s: %s\n", orvanta::StatusName(record.result.status), file.c_str(),
                        record.result.error.c_str());
        for (const orvanta::PluginEntry& plugin : record.result.plugins)
        {
            // Every format's plugin has an ID, a name and a vendor.
            std::string extra;
            if (plugin.vst3) // a VST3 class: its category
                extra = ", " + plugin.vst3->category;
            else if (plugin.clap) // a CLAP plugin: its main channels
                extra = ", " + std::to_string(plugin.clap->ports ? plugin.clap->ports->audioInputs : 0) + " in, " +
                        std::to_string(plugin.clap->ports ? plugin.clap->ports->audioOutputs : 0) + " out";
            std::printf("%-8s %s %s %s (%s%s)\n", orvanta::StatusName(plugin.status), file.c_str(),
                        plugin.Id().c_str(), plugin.Name().c_str(), plugin.Vendor().c_str(), extra.c_str());
        }
    }
    LocalFree(argv);
    return 0;
}
