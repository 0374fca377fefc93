// Prints how fast presets are indexed: VST3 presets read from .vstpreset
// files, CLAP presets through the modules' preset-discovery providers on a
// real scan server, and what the presets pass adds to an orvanta-scan run.
//   presets_bench [--vst3 N] [--clap-copies N] [--repeats N]
// The folder is presets-bench\ beside the bin folder:
//   modules      a copy of the VST3 effect fixture (bin\vst3\Vst3Effect.vst3),
//                N copies of ClapPresets.clap (default 100; each with its
//                NAME-presets folder beside it: 10 presets from two
//                providers) and ClapPresetsMany.clap (a provider that
//                begins 1,000,000 presets, of which 10,000 are listed);
//   user, appdata, programdata
//                what USERPROFILE, APPDATA and PROGRAMDATA point at while
//                this program runs (and so for the orvanta-scan runs it
//                starts): N .vstpreset files (default 2,000) in ten
//                category folders under the preset folder of the effect's
//                audio module class, each with a small component and
//                controller state and an Info chunk of metadata.
// Library figures use one ModuleScanner (CLAP also a ScanPool of two
// servers) over the modules as scanned, the median of --repeats runs
// (default 3). The orvanta-scan figures are from process start to exit.
#include "bench_clock.h"
#include "build_paths.h"
#include "files.h"
#include "processes.h"
#include "text.h"
#include "vst3_bundle.h"
#include "formats/vst3/vst3_presets.h"
#include <orvanta/scan.h>
#include <orvanta/vst3.h>
#include <shellapi.h>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
}

std::wstring FolderOf(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

// Copies every file under from to the same place under to.
void CopyTree(const std::wstring& from, const std::wstring& to)
{
    MakeFolders(to);
    for (const std::wstring& file : FilesUnder(from))
    {
        std::wstring target = to + L"\\" + file;
        MakeFolders(FolderOf(target));
        if (!CopyFileW((from + L"\\" + file).c_str(), target.c_str(), FALSE))
            throw std::runtime_error("cannot copy " + Utf8(from + L"\\" + file));
    }
}

// A preset as a preset editor saves one: some component state, a little
// controller state, and the metadata a browser shows.
std::string PresetBytes(const std::string& classId, const std::string& plugin, int index)
{
    static const char* const categories[] = {"Bass", "Lead", "Pad", "Keys", "Drums",
                                             "FX", "Strings", "Brass", "Pluck", "Arp"};
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n"
                      "\t<Attr id=\"MediaType\" value=\"VstPreset\" type=\"string\" flags=\"writeProtected\"/>\n"
                      "\t<Attr id=\"PlugInName\" value=\"" +
                      plugin +
                      "\" type=\"string\" flags=\"\"/>\n"
                      "\t<Attr id=\"PlugInCategory\" value=\"Fx|Stereo\" type=\"string\" flags=\"\"/>\n"
                      "\t<Attr id=\"MusicalCategory\" value=\"" +
                      categories[index % 10] +
                      "\" type=\"string\" flags=\"\"/>\n"
                      "\t<Attr id=\"Author\" value=\"Sound Designer " +
                      std::to_string(index % 7) + "\" type=\"string\" flags=\"\"/>\n</MetaInfo>\n";
    std::string component(512, '\0'), controller(96, '\0');
    for (size_t i = 0; i < component.size(); i++)
        component[i] = (char)(i * 31 + index);
    for (size_t i = 0; i < controller.size(); i++)
        controller[i] = (char)(i * 7 + index);
    return Vst3PresetBytes(classId, {{"Comp", component}, {"Cont", controller}, {"Info", xml}});
}

struct ToolRun
{
    double seconds = -1;
    DWORD exitCode = 0;
    std::string presetsLine; // the summary's "Presets: ..." line
};

// orvanta-scan over the modules with the database given, to its end.
ToolRun Tool(const std::wstring& db, const std::wstring& modules, bool presets)
{
    std::vector<std::wstring> args = {L"--db", db, L"--dumps", FolderOf(db) + L"\\dumps"};
    if (presets)
        args.push_back(L"--presets");
    args.push_back(modules);
    ToolRun result;
    double start = Now();
    ProcessRun run = RunCaptured(BinPath(L"orvanta-scan.exe"), args, 300000);
    result.seconds = Now() - start;
    result.exitCode = run.exitCode;
    size_t at = run.out.find("Presets:");
    if (at != std::string::npos)
        result.presetsLine = run.out.substr(at, run.out.find('\n', at) - at);
    // Its progress goes to the standard error: passed on only when it failed.
    if (run.exitCode > 1)
        fwrite(run.err.data(), 1, run.err.size(), stderr);
    return result;
}

class Bench
{
public:
    explicit Bench(std::wstring scratch) : m_scratch(std::move(scratch)) {}

    // A fresh folder for one run's database, holding a copy of seed when given.
    std::wstring RunFolder(const std::wstring& seed = L"")
    {
        std::wstring folder = m_scratch + L"\\run" + std::to_wstring(++m_runs);
        RemoveTree(folder);
        MakeFolders(folder);
        std::wstring db = folder + L"\\db.json";
        if (!seed.empty() && !CopyFileW(seed.c_str(), db.c_str(), FALSE))
            throw std::runtime_error("cannot copy the database " + Utf8(seed));
        return db;
    }

private:
    std::wstring m_scratch;
    int m_runs = 0;
};

struct Rate
{
    double presets = 0; // per run
    std::vector<double> seconds;
};

void PrintRate(const char* label, const Rate& rate, const char* note = "")
{
    double median = Median(rate.seconds);
    std::string runs;
    for (double s : rate.seconds)
    {
        char text[32];
        snprintf(text, sizeof text, "%s%.0f", runs.empty() ? "" : " ", rate.presets / s);
        runs += text;
    }
    printf("  %-52s %7.0f presets/s  (%.0f presets in %.3f s; runs %s)%s\n", label, rate.presets / median,
           rate.presets, median, runs.c_str(), note);
    fflush(stdout);
}

size_t Count(const std::optional<orvanta::ModulePresets>& presets)
{
    return presets ? presets->presets.size() : 0;
}

} // namespace

int main()
{
    int vst3Count = 2000, clapCopies = 100, repeats = 3;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i + 1 < argc; i += 2)
    {
        int value = std::max(1, _wtoi(argv[i + 1]));
        if (wcscmp(argv[i], L"--vst3") == 0)
            vst3Count = value;
        else if (wcscmp(argv[i], L"--clap-copies") == 0)
            clapCopies = value;
        else if (wcscmp(argv[i], L"--repeats") == 0)
            repeats = value;
    }
    std::wstring scratch = FullPath(BinPath(L"..\\presets-bench"));
    RemoveTree(scratch);
    std::wstring modules = scratch + L"\\modules";
    Bench bench(scratch);
    try
    {
        MakeFolders(modules);
        // The preset folders of the user and the machine, all in scratch.
        for (const wchar_t* name : {L"USERPROFILE", L"APPDATA", L"PROGRAMDATA"})
        {
            std::wstring folder = scratch + L"\\" + name;
            MakeFolders(folder);
            SetEnvironmentVariableW(name, folder.c_str());
        }
        std::wstring vst3 = BinPath(L"vst3\\Vst3Effect.vst3");
        std::wstring bundle = MakeBundle(modules, L"Vst3Effect.vst3",
                                         ReadWholeFile(vst3 + L"\\Contents\\x86_64-win\\Vst3Effect.vst3"));
        std::wstring clap = BinPath(L"clap\\ClapPresets.clap");
        std::vector<std::wstring> clapModules;
        for (int i = 0; i < clapCopies; i++)
        {
            wchar_t name[64];
            swprintf(name, 64, L"ClapPresets%03d", i);
            clapModules.push_back(CopyTo(clap, modules, std::wstring(name) + L".clap"));
            CopyTree(BinPath(L"clap\\ClapPresets-presets"), modules + L"\\" + name + L"-presets");
        }
        std::wstring many = CopyTo(BinPath(L"clap\\ClapPresetsMany.clap"), modules, L"ClapPresetsMany.clap");

        orvanta::ServerConfig config;
        config.serverExe = BinPath(L"scanserver.exe");
        config.dumpFolder = scratch + L"\\dumps";
        orvanta::ModuleScanner scanner(config);

        // The VST3 presets, in the folder of the effect's audio module class
        // as the module's own scan names it.
        orvanta::ModuleResult effect = scanner.ScanModule(bundle);
        const orvanta::Vst3Class* audio = nullptr;
        for (const orvanta::PluginEntry& entry : effect.plugins)
            if (entry.vst3 && entry.vst3->category == orvanta::Vst3AudioModuleClass && !audio)
                audio = &*entry.vst3;
        if (!audio)
            throw std::runtime_error("the copy of Vst3Effect.vst3 scanned without an audio module class");
        std::wstring presetFolder = orvanta::Vst3PresetFolders(L"", audio->vendor, audio->name).front();
        for (int i = 0; i < vst3Count; i++)
        {
            wchar_t name[64];
            swprintf(name, 64, L"\\Category %02d\\Preset %04d.vstpreset", i % 10, i);
            std::wstring path = presetFolder + name;
            if (i < 10)
                MakeFolders(FolderOf(path));
            WriteWholeFile(path, PresetBytes(audio->classId, audio->name, i));
        }

        printf("\npresets indexed per second (median of %d runs each)\n", repeats);
        Rate rate;
        for (int r = 0; r < repeats; r++)
        {
            double start = Now();
            std::optional<orvanta::ModulePresets> presets = scanner.ScanPresets(effect);
            rate.seconds.push_back(Now() - start);
            rate.presets = (double)Count(presets);
        }
        if (rate.presets != vst3Count)
            printf("  (VST3: %.0f presets read of the %d files written)\n", rate.presets, vst3Count);
        PrintRate("VST3, .vstpreset files of one module", rate);

        // CLAP: the modules as scanned, then their providers' requests.
        std::vector<orvanta::ModuleResult> clapResults;
        for (const std::wstring& path : clapModules)
            clapResults.push_back(scanner.ScanModule(path));
        orvanta::ModuleResult manyResult = scanner.ScanModule(many);
        rate = Rate{};
        for (int r = 0; r < repeats; r++)
        {
            size_t count = 0;
            double start = Now();
            for (const orvanta::ModuleResult& module : clapResults)
                count += Count(scanner.ScanPresets(module));
            rate.seconds.push_back(Now() - start);
            rate.presets = (double)count;
        }
        std::string label = "CLAP, " + std::to_string(clapCopies) + " modules of 2 providers, one server";
        PrintRate(label.c_str(), rate);

        rate = Rate{};
        for (int r = 0; r < repeats; r++)
        {
            std::vector<size_t> counts(clapResults.size());
            orvanta::ScanPool pool(config, 2);
            double start = Now();
            pool.ScanPresets(clapResults, {},
                             [&](size_t, size_t module, std::optional<orvanta::ModulePresets>&& presets) {
                                 counts[module] = Count(presets);
                             });
            rate.seconds.push_back(Now() - start);
            size_t count = 0;
            for (size_t c : counts)
                count += c;
            rate.presets = (double)count;
        }
        label = "CLAP, the same on two servers (ScanPool)";
        PrintRate(label.c_str(), rate, " servers' start and end included");

        rate = Rate{};
        for (int r = 0; r < repeats; r++)
        {
            double start = Now();
            std::optional<orvanta::ModulePresets> presets = scanner.ScanPresets(manyResult);
            rate.seconds.push_back(Now() - start);
            rate.presets = (double)Count(presets);
        }
        PrintRate("CLAP, ClapPresetsMany (10,000 listed of 1,000,000)", rate);
        scanner.Finish();

        // What the presets pass adds to a run of the tool over the same
        // modules: a first run (everything scanned and read), then a second
        // one over that run's database, where nothing changed.
        int moduleCount = clapCopies + 2;
        // The second runs are short and vary more than the difference
        // they show: three times as many of them, in turns.
        int againRepeats = 3 * repeats;
        printf("\norvanta-scan over the same %d modules (first runs median of %d, second runs of %d)\n",
               moduleCount, repeats, againRepeats);
        std::vector<double> first, firstPresets, again, againPresets;
        std::wstring seed;
        std::string firstLine, againLine;
        DWORD worst = 0;
        for (int r = 0; r < repeats; r++)
        {
            ToolRun plain = Tool(bench.RunFolder(), modules, false);
            seed = bench.RunFolder();
            ToolRun withPresets = Tool(seed, modules, true);
            for (const ToolRun* run : {&plain, &withPresets})
                worst = std::max(worst, run->exitCode);
            first.push_back(plain.seconds);
            firstPresets.push_back(withPresets.seconds);
            firstLine = withPresets.presetsLine;
        }
        for (int r = 0; r < againRepeats; r++)
        {
            ToolRun plainAgain = Tool(bench.RunFolder(seed), modules, false);
            ToolRun presetsAgain = Tool(bench.RunFolder(seed), modules, true);
            for (const ToolRun* run : {&plainAgain, &presetsAgain})
                worst = std::max(worst, run->exitCode);
            again.push_back(plainAgain.seconds);
            againPresets.push_back(presetsAgain.seconds);
            againLine = presetsAgain.presetsLine;
        }
        if (worst > 1)
            printf("  orvanta-scan ended with exit code %lu\n", worst);
        printf("  first run (a fresh database):  %6.3f s, with --presets %6.3f s: the presets pass adds %.3f s\n",
               Median(first), Median(firstPresets), Median(firstPresets) - Median(first));
        printf("    %s\n", firstLine.c_str());
        printf("  second run (nothing changed):  %6.3f s, with --presets %6.3f s: the presets pass adds %.3f s\n",
               Median(again), Median(againPresets), Median(againPresets) - Median(again));
        printf("    %s\n", againLine.c_str());
        fflush(stdout);
    }
    catch (const std::exception& e)
    {
        fprintf(stderr, "presets_bench: %s\n", e.what());
        return 1;
    }
    RemoveTree(scratch);
    return 0;
}
