#include "options.h"
#include <orvanta/text.h>
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <sstream>

namespace orvantacli {

bool ParseFormats(const std::string& text, std::vector<orvanta::PluginFormat>* formats, std::string* error)
{
    std::vector<orvanta::PluginFormat> parsed;
    size_t start = 0;
    while (start <= text.size())
    {
        size_t end = std::min(text.find(',', start), text.size());
        std::string name = text.substr(start, end - start);
        for (char& c : name)
            c = (char)std::tolower((unsigned char)c);
        size_t first = name.find_first_not_of(' '), last = name.find_last_not_of(' ');
        name = first == std::string::npos ? "" : name.substr(first, last - first + 1);
        orvanta::PluginFormat format;
        if (!orvanta::ParseFormat(name, &format))
        {
            *error = name.empty() ? "an empty format name (known: vst2, vst3, clap)"
                                  : "unknown format '" + name + "' (known: vst2, vst3, clap)";
            return false;
        }
        if (std::find(parsed.begin(), parsed.end(), format) == parsed.end())
            parsed.push_back(format);
        start = end + 1;
    }
    *formats = parsed;
    return true;
}

Command ParseOptions(const std::vector<std::string>& args, Options* options)
{
    Command command;
    CLI::App app{"Scans VST 2, VST3 and CLAP plugin modules out of process with the scan server and keeps the results "
                 "in a JSON database. A later run scans only new and changed modules.",
                 "orvanta-scan"};
    app.footer("Exit codes: 0 every module ok or unchanged; 1 a module failed, crashed, timed out or was lost; "
               "2 a usage error, or a database that cannot be read or written; 3 cancelled with Ctrl+C (what "
               "finished is in the database).");
    app.set_version_flag("--version", std::string("orvanta-scan ") + ToolVersion);

    std::vector<std::string> paths, block, unblock;
    std::string server, server32, dumps, database, formats;
    CLI::Option* pathOption = app.add_option("PATH", paths,
                   "Plugin files and folders; folders are searched recursively for .dll files (VST 2), .vst3 "
                   "files and bundle folders (VST3) and .clap files (CLAP), any letter case (default: the "
                   "standard plugin folders)")
        ->type_name("PATH");
    CLI::Option* formatsOption =
        app.add_option("--formats", formats, "The plugin formats to scan, separated by commas (default: vst2,vst3,clap)")
            ->type_name("LIST");
    app.add_flag("--fast", options->fast,
                 "List a VST3 bundle's classes from its moduleinfo.json alone, without loading it, when the "
                 "file reads cleanly");
    app.add_option("--server", server, "The scan server to run (default: scanserver.exe beside orvanta-scan.exe)")
        ->type_name("FILE");
    app.add_option("--server32", server32,
                   "The 32-bit scan server, which scans modules built for x86 (default: scanserver32.exe beside "
                   "orvanta-scan.exe; without one they fail as built for another machine)")
        ->type_name("FILE");
    app.add_option("--dumps", dumps, "Folder for crash dumps (default: a 'dumps' folder beside the database)")
        ->type_name("FOLDER");
    app.add_option("--db", database,
                   "The database file (JSON; default: %LOCALAPPDATA%\\Orvanta\\orvanta-plugins.json, shared by every "
                   "host of this user)")
        ->type_name("FILE");
    app.add_option("--timeout", options->timeoutSeconds,
                   "Seconds one request may take before its server is ended as hanging")
        ->capture_default_str()
        ->type_name("SECONDS")
        ->check(CLI::PositiveNumber);
    app.add_option("--retries", options->retries,
                   "How often a crash is tried again in a fresh server before it is recorded")
        ->capture_default_str()
        ->type_name("N")
        ->check(CLI::Range(0, 100));
    app.add_option("-j,--jobs", options->jobs,
                   "Servers scanning at once, each kept running across many modules (default: one per processor)")
        ->type_name("N")
        ->check(CLI::Range(1, MaxJobs));
    app.add_flag("--rescan", options->rescan, "Scan every module, also unchanged ones");
    app.add_flag("--retry-failed", options->retryFailed,
                 "Also scan unchanged modules that crashed, timed out or were lost before");
    app.add_flag("--json", options->json,
                 "Write this run's entries as JSON (the database's shape) on the standard output");
    app.add_flag("--quiet", options->quiet, "No progress and no summary; errors only");
    app.add_flag("--findings", options->allFindings,
                 "List every finding in the summary, one a line (default: one line a module, with its count, "
                 "kinds and first finding)");
    app.add_flag("--presets", options->presets,
                 "Also read the presets of the VST3 and CLAP modules whose presets were never read, whose module "
                 "changed or whose preset folders changed; with --list, each product's preset count");
    app.add_flag("--list", options->list,
                 "Print the database's plugins grouped by product, one product a line, and scan nothing")
        ->excludes(pathOption);
    CLI::Option* blockOption =
        app.add_option("--block", block,
                       "Block these modules: never load them, nor list their plugins, until --unblock (scans "
                       "nothing)")
            ->type_name("PATH")
            ->expected(1, -1)
            ->excludes(pathOption);
    CLI::Option* unblockOption =
        app.add_option("--unblock", unblock, "Take these modules off the blocklist; the next run scans them (scans nothing)")
            ->type_name("PATH")
            ->expected(1, -1)
            ->excludes(pathOption);
    app.add_option("--reason", options->reason, "Why the modules of --block are blocked, kept with them")
        ->type_name("TEXT")
        ->needs(blockOption);
    blockOption->excludes("--list");
    unblockOption->excludes("--list");

    std::vector<std::string> rest(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
    try
    {
        app.parse(rest);
    }
    catch (const CLI::ParseError& e)
    {
        std::ostringstream out, err;
        command.exitCode = app.exit(e, out, err) == 0 ? 0 : 2;
        command.message = out.str() + err.str();
        return command;
    }
    if (formatsOption->count() > 0 && !ParseFormats(formats, &options->formats, &command.message))
    {
        command.exitCode = 2;
        command.message = "--formats: " + command.message + "\nRun with --help for more information.\n";
        return command;
    }
    for (const std::string& path : paths)
        options->paths.push_back(orvanta::ToWide(path));
    for (const std::string& path : block)
        options->block.push_back(orvanta::ToWide(path));
    for (const std::string& path : unblock)
        options->unblock.push_back(orvanta::ToWide(path));
    options->server = orvanta::ToWide(server);
    options->server32 = orvanta::ToWide(server32);
    options->dumps = orvanta::ToWide(dumps);
    options->database = orvanta::ToWide(database);
    command.run = true;
    return command;
}

} // namespace orvantacli
