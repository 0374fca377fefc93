// The command line of orvanta-scan.
#pragma once
#include <string>
#include <vector>

namespace orvantacli {

constexpr const char* ToolVersion = "1.1.0";
// More servers than this gain nothing and only crowd the machine.
constexpr int MaxJobs = 64;

struct Options
{
    std::vector<std::wstring> paths;
    std::wstring server;   // empty: scanserver.exe beside this program
    std::wstring dumps;    // empty: "dumps" beside the database
    std::wstring database = L"orvanta-plugins.json";
    double timeoutSeconds = 30;
    int retries = 1;
    int jobs = 0; // servers at once; 0: one per processor
    bool rescan = false;
    bool retryFailed = false;
    bool json = false;
    bool quiet = false;
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

// Parses UTF-8 arguments (args[0] is the program) into *options.
Command ParseOptions(const std::vector<std::string>& args, Options* options);

} // namespace orvantacli
