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

// Parses UTF-8 arguments (args[0] is the program). Returns -1 when the run
// goes on; otherwise the exit code, after *message was set to what to print
// (help and version text for code 0, the error for code 2).
int ParseOptions(const std::vector<std::string>& args, Options* options, std::string* message);

} // namespace orvantacli
