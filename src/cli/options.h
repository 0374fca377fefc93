// The command line of orvanta-scan.
#pragma once
#include <orvanta/scan.h>
#include <string>
#include <vector>

namespace orvantacli {

constexpr const char* ToolVersion = "1.1.0";
// More servers than this gain nothing and only crowd the machine.
constexpr int MaxJobs = 64;

struct Options
{
    std::vector<std::wstring> paths; // empty: the standard folders of the formats
    std::vector<orvanta::PluginFormat> formats = {orvanta::PluginFormat::vst2, orvanta::PluginFormat::vst3,
                                                  orvanta::PluginFormat::clap};
    std::wstring server;   // empty: scanserver.exe beside this program
    std::wstring server32; // empty: scanserver32.exe beside this program, when there is one
    std::wstring dumps;    // empty: "dumps" beside the database
    std::wstring database; // empty: orvanta::DefaultDatabasePath()
    double timeoutSeconds = 30;
    int retries = 1;
    int jobs = 0; // modules scanned at once, whatever their machine; 0: one per processor
    bool rescan = false;
    bool retryFailed = false;
    bool json = false;
    bool quiet = false;
    bool fast = false; // VST3 bundles with a clean moduleinfo.json listed from it alone
    bool list = false; // print the database's products instead of scanning
    // Also read the presets of VST3 and CLAP modules; with list, each
    // product's preset count.
    bool presets = false;
    bool allFindings = false; // the summary lists every finding, not one line a module
    // Edit the blocklist instead of scanning.
    std::vector<std::wstring> block, unblock;
    std::string reason; // with block
};

// What the command line asks for: a run with the options, or an exit right
// away with a message (help and version text with code 0 on the standard
// output, a usage error with code 2 on the standard error).
struct Command
{
    bool run = false;
    int exitCode = 0;    // when !run
    std::string message; // when !run
};

// "vst2,vst3,clap": format names separated by commas, any letter case, blanks
// around them ignored, each kept once in the order given. False (and the
// reason) for an unknown or empty name.
bool ParseFormats(const std::string& text, std::vector<orvanta::PluginFormat>* formats, std::string* error);

// Parses UTF-8 arguments (args[0] is the program) into *options.
Command ParseOptions(const std::vector<std::string>& args, Options* options);

} // namespace orvantacli
