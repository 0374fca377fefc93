// Prints how fast orvanta-scan --fast lists VST3 bundles from their
// moduleinfo.json alone, against the same tool loading each bundle in its
// servers, and the tool's own start-up and end over an empty folder.
//   fast_bench [--copies N] [--repeats N]
// The folder is fast-bench\ beside the bin folder: N copies (default 200)
// of the DPF gain fixture's bundle (bin\dpf\DpfGain.vst3) under distinct
// names, each with a moduleinfo.json that lists its two classes as DPF
// declares them (DPF writes no such file itself). Each run
// gets a fresh database; its time is from process start to exit.
#include "bench_clock.h"
#include "build_paths.h"
#include "files.h"
#include "processes.h"
#include "text.h"
#include "vst3_bundle.h"
#include <shellapi.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const char* const DpfGainInfo = R"json({
  "Name": "DpfGain",
  "Version": "1.2.3",
  "Factory Info": {
    "Vendor": "Zandrel Software",
    "URL": "https://example.com/orvanta",
    "E-Mail": "",
    "Flags": {"Unicode": true, "Classes Discardable": false, "Component Non Discardable": false},
  },
  "Classes": [
    {"CID": "445046206173636C6E47644F00000000", "Category": "Audio Module Class", "Name": "Orvanta DPF Gain",
     "Vendor": "Zandrel Software", "Version": "1.2.3", "SDKVersion": "Travesty 3.7.4",
     "Sub Categories": ["Fx", "Stereo"], "Class Flags": 1, "Cardinality": 2147483647},
    {"CID": "44504620726C63746E47644F00000000", "Category": "Component Controller Class",
     "Name": "Orvanta DPF Gain", "Vendor": "Zandrel Software", "Version": "1.2.3", "SDKVersion": "Travesty 3.7.4",
     "Sub Categories": ["Fx", "Stereo"], "Class Flags": 1, "Cardinality": 2147483647},
  ],
})json";

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Run
{
    double seconds = -1;
    DWORD exitCode = 0;
};

Run Tool(const std::wstring& scratch, int* runs, std::vector<std::wstring> args)
{
    std::wstring folder = scratch + L"\\run" + std::to_wstring(++*runs);
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    args.insert(args.begin(), {L"--quiet", L"--db", folder + L"\\db.json"});
    Run result;
    double start = Now();
    ProcessRun run = RunCaptured(BinPath(L"orvanta-scan.exe"), args, INFINITE);
    result.seconds = Now() - start;
    result.exitCode = run.exitCode;
    fwrite(run.err.data(), 1, run.err.size(), stderr);
    return result;
}

} // namespace

int main()
{
    int copies = 200, repeats = 5;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (wcscmp(argv[i], L"--copies") == 0)
            copies = std::max(1, _wtoi(argv[i + 1]));
        else if (wcscmp(argv[i], L"--repeats") == 0)
            repeats = std::max(1, _wtoi(argv[i + 1]));
    }
    std::wstring binary = BinPath(L"dpf\\DpfGain.vst3\\Contents\\x86_64-win\\DpfGain.vst3");
    std::string bytes = ReadWholeFile(binary);
    if (bytes.empty())
    {
        fprintf(stderr, "fast_bench: no DPF bundle at %s (./run build makes it)\n", Utf8(binary).c_str());
        return 1;
    }
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(BinPath(L"..\\fast-bench").c_str(), MAX_PATH, full, nullptr);
    std::wstring scratch = n > 0 && n < MAX_PATH ? std::wstring(full, n) : BinPath(L"..\\fast-bench");
    RemoveTree(scratch);
    std::wstring bundles = scratch + L"\\bundles", empty = scratch + L"\\empty";
    MakeFolders(bundles);
    MakeFolders(empty);
    try
    {
        for (int i = 0; i < copies; i++)
        {
            wchar_t name[64];
            swprintf(name, 64, L"Gain%03d.vst3", i);
            MakeBundle(bundles, name, bytes, std::string(DpfGainInfo));
        }
    }
    catch (const std::exception& e)
    {
        fprintf(stderr, "fast_bench: %s\n", e.what());
        return 1;
    }

    printf("\norvanta-scan --fast: %d bundles with a moduleinfo.json in %s (median of %d runs each)\n", copies,
           Utf8(bundles).c_str(), repeats);
    struct Row
    {
        const char* label;
        std::vector<std::wstring> args;
        int modules;
    };
    const Row rows[] = {
        {"orvanta-scan --fast", {L"--fast", bundles}, copies},
        {"orvanta-scan, every bundle loaded", {bundles}, copies},
        {"orvanta-scan --fast, empty folder", {L"--fast", empty}, 0},
    };
    int runs = 0;
    for (const Row& row : rows)
    {
        std::vector<double> seconds;
        DWORD exitCode = 0;
        for (int r = 0; r < repeats; r++)
        {
            Run run = Tool(scratch, &runs, row.args);
            seconds.push_back(run.seconds);
            exitCode = run.exitCode;
        }
        double median = Median(seconds);
        if (row.modules > 0)
            printf("  %-36s %8.1f modules/s  (%.2f s, exit code %lu)\n", row.label, row.modules / median, median,
                   exitCode);
        else
            printf("  %-36s %8.2f s the run  (exit code %lu)\n", row.label, median, exitCode);
        fflush(stdout);
    }
    RemoveTree(scratch);
    return 0;
}
