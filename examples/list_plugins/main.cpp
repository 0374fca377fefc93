// list_plugins: what a host does with the client library, start to end.
// Finds the plugin modules under the folders given, scans the new and
// changed ones with a pool of scan servers, keeps the results in a
// database, and prints one line per plugin.
//
//   list_plugins.exe DATABASE SERVER FOLDER...
#include <orvanta/database.h>
#include <orvanta/database_writer.h>
#include <orvanta/paths.h>
#include <orvanta/scan.h>
#include <orvanta/text.h>
#include <windows.h>
#include <shellapi.h>
#include <cstdio>
#include <string>
#include <vector>

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
    std::vector<std::wstring> folders(argv + 3, argv + argc);
    orvanta::FoundModules found = orvanta::FindModules(folders);
    orvanta::ScanPlan plan = db.Plan(found, {});
    std::vector<orvanta::ModuleFile> order = db.ScanOrder(plan.toScan);

    orvanta::ServerConfig config;
    config.serverExe = argv[2];
    config.dumpFolder = orvanta::FullPath(L"dumps");
    config.timeoutMs = 10000;
    std::vector<std::wstring> paths;
    for (const orvanta::ModuleFile& file : order)
        paths.push_back(file.path);

    {
        // The writer rewrites the file on its own thread: no server waits.
        orvanta::DatabaseWriter writer(db, {});
        orvanta::ScanPool pool(config, 2);
        orvanta::PoolCallbacks callbacks;
        callbacks.onFinish = [&](size_t, size_t module, orvanta::ModuleResult&& result) {
            orvanta::ModuleRecord record{order[module].size, order[module].modified, std::move(result)};
            writer.Add(std::move(record));
        };
        callbacks.onBlame = [&](size_t, const orvanta::Blame& blame) { writer.Add(blame); };
        pool.ScanAll(paths, callbacks);
        error = writer.Finish();
    }
    if (!error.empty())
    {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }

    // Every plugin the database knows, scanned now or before.
    for (const orvanta::ModuleRecord& record : db.Modules())
    {
        std::string file = orvanta::ToUtf8(orvanta::FileNameOf(record.result.path));
        if (record.result.plugins.empty())
            std::printf("%-8s %s: %s\n", orvanta::StatusName(record.result.status), file.c_str(),
                        record.result.error.c_str());
        for (const orvanta::PluginEntry& plugin : record.result.plugins)
        {
            if (plugin.vst3) // a VST3 class: its 32-digit ID and its category
                std::printf("%-8s %s %s %s (%s, %s)\n", orvanta::StatusName(plugin.status), file.c_str(),
                            plugin.vst3->classId.c_str(), plugin.vst3->name.c_str(),
                            plugin.vst3->vendor.c_str(), plugin.vst3->category.c_str());
            else if (plugin.clap) // a CLAP plugin: its ID and its main channels
                std::printf("%-8s %s %s %s (%s, %d in, %d out)\n", orvanta::StatusName(plugin.status), file.c_str(),
                            plugin.clap->id.c_str(), plugin.clap->name.c_str(), plugin.clap->vendor.c_str(),
                            plugin.clap->ports ? plugin.clap->ports->audioInputs : 0,
                            plugin.clap->ports ? plugin.clap->ports->audioOutputs : 0);
            else
                std::printf("%-8s %s %s %s (%s)\n", orvanta::StatusName(plugin.status), file.c_str(),
                            orvanta::HexId(plugin.report.id).c_str(), plugin.report.name.c_str(),
                            plugin.report.vendor.c_str());
        }
    }
    LocalFree(argv);
    return 0;
}
