// orvanta-scan.exe as a user runs it: real servers, real fixture plugins,
// real crashes and dumps, the database read back by a standard parser.
#include "build_paths.h"
#include "cli_support.h"
#include "desktop.h"
#include "files.h"
#include "json_file.h"
#include "machines.h"
#include "processes.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>

using namespace testsupport;
using clitest::Contains;
using clitest::RunTool;
using clitest::ToolPath;
using clitest::ToolTimeoutMs;
using nlohmann::json;

namespace {

// The entry of the module whose file name is name; null when absent.
const json* ModuleNamed(const json& document, const std::string& name)
{
    for (const json& module : document["modules"])
    {
        std::string path = module["path"];
        if (path.size() >= name.size() + 1 && path.compare(path.size() - name.size() - 1, std::string::npos,
                                                           "\\" + name) == 0)
            return &module;
    }
    return nullptr;
}

std::vector<std::string> FileNames(const json& document)
{
    std::vector<std::string> names;
    for (const json& module : document["modules"])
    {
        std::string path = module["path"];
        names.push_back(path.substr(path.find_last_of('\\') + 1));
    }
    return names;
}

const json SampleEffectPlugins = json::parse(R"json([ {
    "id": "536D4566", "shellId": null, "status": "ok", "name": "Sample Effect", "vendor": "Zandrel Software",
    "product": "Orvanta Samples", "version": "1.1.0.0", "numInputs": 2, "numOutputs": 2, "wantsMidi": false,
    "sendsMidi": false, "platform": "x64", "audio64": true, "category": 1, "synthEdit": false, "editor": true } ])json");

class CliScan : public ::testing::Test
{
protected:
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins";
    std::wstring db = scratch / L"plugins.json";
    void SetUp() override { MakeFolder(plugins); }
    ProcessRun Run(std::vector<std::wstring> more = {})
    {
        std::vector<std::wstring> args = {L"--db", db};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(plugins);
        return RunTool(args);
    }
};

} // namespace

TEST_F(CliScan, MixedFolderIsScannedToTheEndWithEveryOutcome)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"SampleEffect.dll");
    CopyTo(SamplePath(L"SampleShell"), plugins, L"SampleShell.dll");
    CopyTo(SamplePath(L"SampleCrash"), plugins, L"SampleCrash.dll");
    CopyTo(SamplePath(L"SampleHang"), plugins, L"SampleHang.dll");
    CopyTo(FixturePath(L"TestPluginNoEntry"), plugins, L"NoEntry.dll");
    CopyTo(FixturePath(L"CrashShell"), plugins, L"CrashShell.dll");
    WriteWholeFile(plugins + L"\\readme.txt", "not a module");

    ProcessRun run = Run({L"--timeout", L"3", L"--json"});
    EXPECT_EQ(run.exitCode, 1u) << run.err;

    json document = ReadJson(db);
    EXPECT_EQ(document["format"], 5);
    EXPECT_EQ(document["server"], "Orvanta Plugin Scan Server (x64)");
    EXPECT_EQ(FileNames(document), (std::vector<std::string>{"CrashShell.dll", "NoEntry.dll", "SampleCrash.dll",
                                                             "SampleEffect.dll", "SampleHang.dll",
                                                             "SampleShell.dll"}));
    // --json: this run's entries, the same as the database's.
    json printed = json::parse(run.out, nullptr, false);
    ASSERT_FALSE(printed.is_discarded()) << run.out;
    EXPECT_EQ(printed, document);

    const json* effect = ModuleNamed(document, "SampleEffect.dll");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ((*effect)["status"], "ok");
    EXPECT_EQ((*effect)["attempts"], 1);
    EXPECT_EQ((*effect)["plugins"], SampleEffectPlugins);
    EXPECT_FALSE(effect->contains("error"));

    const json* shell = ModuleNamed(document, "SampleShell.dll");
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ((*shell)["status"], "ok");
    ASSERT_EQ((*shell)["plugins"].size(), 3u);
    EXPECT_EQ((*shell)["plugins"][0]["shellId"], nullptr);
    EXPECT_EQ((*shell)["plugins"][0]["category"], 10);
    EXPECT_EQ((*shell)["plugins"][1]["shellId"], "53480001");
    EXPECT_EQ((*shell)["plugins"][1]["name"], "Sample Shell Chorus");
    EXPECT_EQ((*shell)["plugins"][1]["status"], "ok");
    EXPECT_EQ((*shell)["plugins"][2]["shellId"], "53480002");
    EXPECT_EQ((*shell)["plugins"][2]["name"], "Sample Shell Delay");
    EXPECT_EQ((*shell)["plugins"][2]["status"], "ok");

    const json* noEntry = ModuleNamed(document, "NoEntry.dll");
    ASSERT_NE(noEntry, nullptr);
    EXPECT_EQ((*noEntry)["status"], "failed");
    EXPECT_EQ((*noEntry)["error"], "Entry point not found, not a VST plugin");

    const json* crash = ModuleNamed(document, "SampleCrash.dll");
    ASSERT_NE(crash, nullptr);
    EXPECT_EQ((*crash)["status"], "crashed");
    EXPECT_EQ((*crash)["attempts"], 2);
    EXPECT_EQ((*crash)["exitCode"], 9);
    EXPECT_EQ((*crash)["exceptionCode"], "C0000005");
    std::string faulting = (*crash).value("faultingModule", "");
    EXPECT_TRUE(Contains(faulting, "SampleCrash.dll")) << faulting;
    std::string dump = (*crash).value("dump", "");
    EXPECT_EQ(dump.rfind(Utf8(scratch / L"dumps\\"), 0), 0u) << dump;
    EXPECT_TRUE(Exists(Wide(dump))) << dump;

    const json* hang = ModuleNamed(document, "SampleHang.dll");
    ASSERT_NE(hang, nullptr);
    EXPECT_EQ((*hang)["status"], "timeout");
    EXPECT_EQ((*hang)["attempts"], 1);

    const json* crashShell = ModuleNamed(document, "CrashShell.dll");
    ASSERT_NE(crashShell, nullptr);
    ASSERT_EQ((*crashShell)["plugins"].size(), 2u);
    EXPECT_EQ((*crashShell)["plugins"][0]["status"], "ok");
    EXPECT_EQ((*crashShell)["plugins"][1]["shellId"], "43525331");
    EXPECT_EQ((*crashShell)["plugins"][1]["status"], "crashed");

    // The summary goes to the standard error with --json.
    EXPECT_TRUE(Contains(run.err, "Scanned 6 modules in ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Database: " + Utf8(db) + "\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, Utf8(plugins) + "\\SampleCrash.dll: crashed in both attempts: exception C0000005"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, Utf8(plugins) + "\\NoEntry.dll: failed: Entry point not found, not a VST plugin\n"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, Utf8(plugins) + "\\CrashShell.dll>43525331")) << run.err;
}

// The tool as installed without its 32-bit server.
TEST_F(CliScan, UnloadableModulesAreExplainedInTheDatabaseAndTheSummary)
{
    CopyTo(FixturePath(L"Client32Bit"), plugins, L"Old32.dll");
    CopyTo(FixturePath(L"ClientMissingDep"), plugins, L"NeedsDep.dll");
    std::wstring tool = scratch / L"tool";
    MakeFolder(tool);
    CopyTo(ToolPath(), tool, L"orvanta-scan.exe");
    CopyTo(BinPath(L"scanserver.exe"), tool, L"scanserver.exe");

    ProcessRun run = RunCaptured(tool + L"\\orvanta-scan.exe", {L"--db", db, L"--json", plugins}, ToolTimeoutMs);
    EXPECT_EQ(run.exitCode, 1u) << run.err;

    json document = ReadJson(db);
    json printed = json::parse(run.out, nullptr, false);
    EXPECT_EQ(printed, document) << run.out;
    const json* old = ModuleNamed(document, "Old32.dll");
    ASSERT_NE(old, nullptr);
    EXPECT_EQ((*old)["status"], "failed");
    EXPECT_EQ((*old)["error"], "32-bit module: built for x86; only 64-bit (x64) modules can be loaded");
    EXPECT_EQ((*old)["loadProblem"], "32-bit module: built for x86; only 64-bit (x64) modules can be loaded");
    const json* needsDep = ModuleNamed(document, "NeedsDep.dll");
    ASSERT_NE(needsDep, nullptr);
    EXPECT_EQ((*needsDep)["status"], "failed");
    EXPECT_EQ((*needsDep)["error"], "Failed to load library, err=126");
    EXPECT_EQ((*needsDep)["loadProblem"], "needs OrvantaMissingDep.dll, not found");

    EXPECT_TRUE(Contains(run.err, "Problems:\n  " + Utf8(plugins) +
                                      "\\NeedsDep.dll: failed: Failed to load library, err=126 (needs "
                                      "OrvantaMissingDep.dll, not found)\n  " + Utf8(plugins) +
                                      "\\Old32.dll: failed: 32-bit module: built for x86; only 64-bit (x64) "
                                      "modules can be loaded\n"))
        << run.err;
}

TEST_F(CliScan, LeftOverThreadCrashMarksTheEarlierModuleCrashed)
{
    // A scans cleanly and leaves a thread that crashes 300 ms later. With one
    // server that happens while it works on B (which hangs until its time
    // limit); with two, while A's server waits for the end of the run. Both
    // find the crash and give the same entries.
    CopyTo(FixturePath(L"ClientLateCrash"), plugins, L"A.dll");
    CopyTo(SamplePath(L"SampleHang"), plugins, L"B.dll");

    for (const std::wstring j : {L"1", L"2"})
    {
        SCOPED_TRACE("-j " + Utf8(j));
        std::wstring folder = scratch / (L"j" + j);
        MakeFolder(folder);
        std::wstring jdb = folder + L"\\plugins.json";
        ProcessRun run = RunTool({L"--db", jdb, L"--timeout", L"3", L"--json", L"-j", j, plugins});
        EXPECT_EQ(run.exitCode, 1u) << run.err;

        json document = ReadJson(jdb);
        const json* a = ModuleNamed(document, "A.dll");
        const json* b = ModuleNamed(document, "B.dll");
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ((*a)["status"], "crashed");
        EXPECT_EQ((*a)["error"], "a thread it left running crashed the server during a later request");
        EXPECT_EQ((*a)["exceptionCode"], "C0000005");
        EXPECT_EQ((*a)["faultingModule"], Utf8(plugins) + "\\A.dll");
        EXPECT_EQ((*a).value("dump", "").rfind(Utf8(folder) + "\\dumps\\server-", 0), 0u)
            << a->dump();
        EXPECT_TRUE(Exists(Wide((*a).value("dump", "")))) << a->dump();
        EXPECT_EQ((*b)["status"], "timeout");
        json printed = json::parse(run.out, nullptr, false);
        ASSERT_FALSE(printed.is_discarded()) << run.out;
        EXPECT_EQ(printed, document);
        EXPECT_TRUE(Contains(run.err, "Scanned 2 modules in ")) << run.err;
        EXPECT_TRUE(Contains(run.err, ": 1 crashed, 1 timed out.\n")) << run.err;
        EXPECT_TRUE(Contains(run.err, Utf8(plugins) + "\\A.dll: crashed: exception C0000005 in A.dll (a thread it "
                                                      "left running crashed the server during a later request); "
                                                      "dump "))
            << run.err;
    }
}

TEST_F(CliScan, CrashingSubPluginCostsOnlyItself)
{
    CopyTo(FixturePath(L"ClientShellBadSub"), plugins, L"Shell.dll");

    ProcessRun run = Run();
    EXPECT_EQ(run.exitCode, 1u) << run.err;

    const json document = ReadJson(db);
    const json* shell = ModuleNamed(document, "Shell.dll");
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ((*shell)["status"], "ok");
    const json& p = (*shell)["plugins"];
    ASSERT_EQ(p.size(), 4u) << shell->dump();
    EXPECT_EQ(p[0]["shellId"], nullptr);
    EXPECT_EQ(p[0]["status"], "ok");
    EXPECT_EQ(p[1]["shellId"], "436C5331");
    EXPECT_EQ(p[1]["status"], "ok");
    EXPECT_EQ(p[2]["shellId"], "436C5332");
    EXPECT_EQ(p[2]["status"], "crashed");
    EXPECT_EQ(p[2]["attempts"], 2);
    EXPECT_EQ(p[2]["name"], "Sub Two");
    EXPECT_EQ(p[3]["shellId"], "436C5333");
    EXPECT_EQ(p[3]["status"], "ok");
    EXPECT_TRUE(Contains(run.out, "Plugins: 3 ok, 1 crashed.\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, Utf8(plugins) + "\\Shell.dll>436C5332 (Sub Two): crashed")) << run.out;
}

TEST_F(CliScan, DialogIsRecordedWithItsTitleAndText)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "a message box shows only with a display";
    CopyTo(SamplePath(L"SampleDialog"), plugins, L"SampleDialog.dll");

    ProcessRun run = Run({L"--timeout", L"3"});
    EXPECT_EQ(run.exitCode, 1u) << run.err;

    json document = ReadJson(db);
    const json* dialog = ModuleNamed(document, "SampleDialog.dll");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ((*dialog)["status"], "timeout");
    ASSERT_TRUE(dialog->contains("windows"));
    ASSERT_EQ((*dialog)["windows"].size(), 1u);
    EXPECT_EQ((*dialog)["windows"][0]["title"], "Licence check");
    std::vector<std::string> text = SplitLines((*dialog)["windows"][0]["text"]);
    EXPECT_NE(std::find(text.begin(), text.end(), "Please insert your dongle"), text.end());
    EXPECT_TRUE(Contains(run.out, "waiting on dialog 'Licence check: Please insert your dongle")) << run.out;
}

TEST_F(CliScan, UnchangedSecondRunScansNothing)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    CopyTo(SamplePath(L"SampleSynth"), plugins, L"Synth.dll");
    // One server: the modules finish in path order.
    ProcessRun first = Run({L"-j", L"1"});
    ASSERT_EQ(first.exitCode, 0u) << first.err;
    // Not a console: one plain line per finished module.
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(first.err))
    {
        if (line.rfind("[", 0) == 0)
            lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u) << first.err;
    EXPECT_EQ(lines[0].rfind("[1/2] ok      " + Utf8(plugins) + "\\Effect.dll (", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("[2/2] ok      " + Utf8(plugins) + "\\Synth.dll (", 0), 0u) << lines[1];
    std::string before = ReadWholeFile(db);

    ProcessRun second = Run();
    EXPECT_EQ(second.exitCode, 0u) << second.err;
    EXPECT_EQ(second.out, "Nothing to scan: 2 modules unchanged since the last run.\nDatabase: " + Utf8(db) + "\n");
    EXPECT_EQ(ReadWholeFile(db), before);
}

TEST_F(CliScan, TouchedFileIsScannedAgain)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    std::wstring synth = CopyTo(SamplePath(L"SampleSynth"), plugins, L"Synth.dll");
    ASSERT_EQ(Run().exitCode, 0u);
    SetLastWrite(synth, 134412108752500000ull); // 2026-12-08T13:41:15.250Z

    ProcessRun second = Run({L"--json"});
    EXPECT_EQ(second.exitCode, 0u) << second.err;
    json printed = json::parse(second.out, nullptr, false);
    ASSERT_FALSE(printed.is_discarded()) << second.out;
    EXPECT_EQ(FileNames(printed), (std::vector<std::string>{"Synth.dll"}));
    EXPECT_EQ(printed["modules"][0]["modified"], "2026-12-08T13:41:15.250Z");
    EXPECT_TRUE(Contains(second.err, "Scanned 1 module in ")) << second.err;
    EXPECT_TRUE(Contains(second.err, "1 unchanged (not scanned).\n")) << second.err;
    EXPECT_EQ(ModuleNamed(ReadJson(db), "Synth.dll")->value("modified", ""), "2026-12-08T13:41:15.250Z");
}

TEST_F(CliScan, RemovedFileIsDropped)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    std::wstring synth = CopyTo(SamplePath(L"SampleSynth"), plugins, L"Synth.dll");
    ASSERT_EQ(Run().exitCode, 0u);
    ASSERT_TRUE(DeleteFileW(synth.c_str()));

    ProcessRun second = Run();
    EXPECT_EQ(second.exitCode, 0u) << second.err;
    EXPECT_EQ(FileNames(ReadJson(db)), (std::vector<std::string>{"Effect.dll"}));
    EXPECT_EQ(second.out, "Nothing to scan: 1 module unchanged since the last run.\n1 removed (their files are gone).\n"
                          "Database: " + Utf8(db) + "\n");
}

TEST_F(CliScan, RetryFailedScansACrashedModuleAgain)
{
    CopyTo(SamplePath(L"SampleHang"), plugins, L"Hang.dll");
    ASSERT_EQ(Run({L"--timeout", L"1"}).exitCode, 1u);
    ProcessRun skipped = Run({L"--timeout", L"1"});
    EXPECT_EQ(skipped.exitCode, 0u) << skipped.err;
    EXPECT_TRUE(Contains(skipped.out, "Nothing to scan: 1 module unchanged since the last run (1 of them crashed, "
                                      "timed out or were lost then; --retry-failed scans those again).\n"))
        << skipped.out;

    ProcessRun retried = Run({L"--timeout", L"1", L"--retry-failed"});
    EXPECT_EQ(retried.exitCode, 1u) << retried.err;
    EXPECT_TRUE(Contains(retried.out, "Scanned 1 module in ")) << retried.out;
}

TEST_F(CliScan, KilledRunResumesWithNothingLost)
{
    const int count = 24;
    const wchar_t* samples[] = {L"SampleEffect", L"SampleSynth", L"SampleShell"};
    for (int i = 0; i < count; i++)
        CopyTo(SamplePath(samples[i % 3]), plugins, L"Module" + std::to_wstring(i) + L".dll");
    unsigned seed = (unsigned)time(nullptr);
    srand(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    std::set<std::string> kept; // modules the database held after a kill
    int interrupted = 0;        // kills that left modules to do
    for (int round = 0; round < 4; round++)
    {
        CapturedProcess tool;
        ASSERT_TRUE(tool.Start(ToolPath(), {L"--db", db, plugins}));
        // A moment inside the run: after a random number of finished
        // modules, then a little more.
        size_t finished = (size_t)(rand() % 3);
        DWORD waited = 0;
        while (waited < 60000 && WaitForSingleObject(tool.Handle(), 0) == WAIT_TIMEOUT)
        {
            size_t lines = 0;
            for (const std::string& line : SplitLines(tool.Err()))
                lines += line.rfind("[", 0) == 0;
            if (lines >= finished)
                break;
            Sleep(5);
            waited += 5;
        }
        Sleep(rand() % 40);
        tool.Kill();
        tool.Wait(ToolTimeoutMs);
        if (!Exists(db))
            continue; // killed before the first module was written
        json document = ReadJson(db);
        ASSERT_TRUE(document.is_object());
        std::set<std::string> now;
        for (const json& module : document["modules"])
        {
            EXPECT_EQ(module["status"], "ok") << module.dump();
            now.insert(module["path"].get<std::string>());
        }
        for (const std::string& path : kept)
            EXPECT_EQ(now.count(path), 1u) << "lost " << path;
        // Every module reported finished was already in the file.
        for (const std::string& line : SplitLines(tool.Err()))
        {
            size_t at = line.find(Utf8(plugins));
            if (line.rfind("[", 0) == 0 && at != std::string::npos)
            {
                EXPECT_EQ(now.count(line.substr(at, line.find(" (") - at)), 1u) << line;
            }
        }
        kept = now;
        interrupted += now.size() < (size_t)count;
    }

    ProcessRun last = Run({L"--json"});
    EXPECT_EQ(last.exitCode, 0u) << last.err;
    json document = ReadJson(db);
    EXPECT_EQ(document["modules"].size(), (size_t)count);
    for (const json& module : document["modules"])
        EXPECT_EQ(module["status"], "ok");
    // Modules finished before the kills were not scanned again.
    json printed = json::parse(last.out, nullptr, false);
    ASSERT_FALSE(printed.is_discarded()) << last.out;
    EXPECT_EQ(printed["modules"].size(), count - kept.size());
    EXPECT_GE(interrupted, 1);
}

TEST_F(CliScan, KilledToolTakesItsHangingServerWithIt)
{
    CopyTo(SamplePath(L"SampleHang"), plugins, L"Hang.dll");
    CapturedProcess tool;
    ASSERT_TRUE(tool.Start(ToolPath(), {L"--db", db, L"--timeout", L"120", plugins}));
    DWORD server = 0;
    for (int i = 0; i < 2000 && !server; i++)
    {
        std::vector<DWORD> servers = ChildProcesses(GetProcessId(tool.Handle()), L"scanserver.exe");
        server = servers.empty() ? 0 : servers[0];
        Sleep(10);
    }
    ASSERT_NE(server, 0u) << "no server started";
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, server);
    ASSERT_NE(process, nullptr);
    Sleep(1000); // the server is inside the hanging plugin by now
    // The tool alone, as a task manager ends it: the server must go by the
    // tool's own doing (tool.Kill would end the server as well).
    TerminateProcess(tool.Handle(), 99);
    tool.Wait(ToolTimeoutMs);
    DWORD waited = WaitForSingleObject(process, 20000);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    CloseHandle(process);
    EXPECT_EQ(waited, (DWORD)WAIT_OBJECT_0) << "the server outlived the tool";
}

TEST_F(CliScan, KillingTheToolEndsEveryProcessItStarted)
{
    CopyTo(SamplePath(L"SampleHang"), plugins, L"Hang.dll");
    CapturedProcess tool;
    ASSERT_TRUE(tool.Start(ToolPath(), {L"--db", db, L"--timeout", L"120", plugins}));
    DWORD toolId = GetProcessId(tool.Handle());
    for (int i = 0; i < 2000 && ChildProcesses(toolId, L"scanserver.exe").empty(); i++)
        Sleep(10);
    ASSERT_FALSE(ChildProcesses(toolId, L"scanserver.exe").empty()) << "no server started";
    // The server hangs in the plugin; under Wine a console host serves the
    // tool's console.
    std::vector<std::pair<std::string, HANDLE>> tree;
    for (const RunningProcess& process : Descendants(toolId))
        tree.push_back({Utf8(process.exeName), OpenProcess(SYNCHRONIZE, FALSE, process.id)});

    tool.Kill();
    std::vector<std::string> running;
    for (const auto& [name, process] : tree)
    {
        if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
            running.push_back(name);
        if (process)
            CloseHandle(process);
    }
    EXPECT_EQ(running, std::vector<std::string>{});
}

TEST(CliExit, UnknownOptionIsAUsageError)
{
    ScratchFolder scratch;
    ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", L"--frobnicate", scratch.Path()});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_TRUE(Contains(run.err, "--frobnicate")) << run.err;
    EXPECT_FALSE(Exists(scratch / L"plugins.json"));
}

TEST(CliExit, MissingPathIsAUsageErrorAndNothingIsDropped)
{
    ScratchFolder scratch;
    ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", scratch / L"nothing"});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.err, "orvanta-scan: no such file or folder: " + Utf8(scratch / L"nothing") + "\n");
    EXPECT_FALSE(Exists(scratch / L"plugins.json"));
}

TEST(CliExit, UnreadableDatabaseIsRefusedAndLeftByteForByte)
{
    ScratchFolder scratch;
    MakeFolder(scratch / L"plugins");
    CopyTo(SamplePath(L"SampleEffect"), scratch / L"plugins", L"Effect.dll");
    const std::string bytes = "{\"format\": 1, \"modules\": [ {\"path\": ";
    WriteWholeFile(scratch / L"plugins.json", bytes);

    ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", scratch / L"plugins"});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.err, "orvanta-scan: the database " + Utf8(scratch / L"plugins.json") +
                           " is not readable, so it is left as it is: it is not valid JSON\n");
    EXPECT_EQ(ReadWholeFile(scratch / L"plugins.json"), bytes);
    EXPECT_FALSE(Exists(scratch / L"dumps"));
}

TEST(CliExit, MissingServerIsAnError)
{
    ScratchFolder scratch;
    CopyTo(SamplePath(L"SampleEffect"), scratch.Path(), L"Effect.dll");
    ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", L"--server", scratch / L"none.exe", scratch.Path()});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.err, "orvanta-scan: no scan server at " + Utf8(scratch / L"none.exe") +
                           " (--server names another)\n");
}

TEST(CliExit, HelpExplainsEveryOption)
{
    ProcessRun run = RunTool({L"--help"});
    EXPECT_EQ(run.exitCode, 0u);
    for (const char* option : {"PATH", "--formats", "--fast", "--server", "--dumps", "--db", "--timeout", "--retries",
                               "-j,--jobs", "--rescan", "--retry-failed", "--json", "--quiet", "--list", "--help",
                               "--version", "Exit codes"})
        EXPECT_TRUE(Contains(run.out, option)) << option << "\n" << run.out;
}

TEST(CliExit, VersionIsPrinted)
{
    ProcessRun run = RunTool({L"--version"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out, "orvanta-scan 1.1.0\n");
}

TEST(CliExit, QuietPrintsNothingOnSuccess)
{
    ScratchFolder scratch;
    CopyTo(SamplePath(L"SampleEffect"), scratch.Path(), L"Effect.dll");
    ProcessRun run = RunTool({L"--quiet", L"--db", scratch / L"plugins.json", scratch.Path()});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FileNames(ReadJson(scratch / L"plugins.json")), (std::vector<std::string>{"Effect.dll"}));
}

namespace {

// The dump member of an entry checked to lie in a server's own folder under
// dumps ("<dumps>\server-K\file"); that folder's name, "" when it does not.
std::string ServerFolderOfDump(const json& module, const std::wstring& dumps)
{
    std::string dump = module.value("dump", "");
    std::string prefix = Utf8(dumps) + "\\server-";
    if (dump.rfind(prefix, 0) != 0)
        return "";
    size_t slash = dump.find('\\', prefix.size());
    if (slash == std::string::npos || slash == prefix.size() ||
        dump.find_first_not_of("0123456789", prefix.size()) != slash)
        return "";
    return dump.substr(Utf8(dumps).size() + 1, slash - Utf8(dumps).size() - 1);
}

// A database with what differs from run to run taken out: the times and the
// dump files' names.
json WithoutTimesAndDumps(json document)
{
    for (json& module : document["modules"])
    {
        module.erase("scanMs");
        module.erase("dump");
    }
    return document;
}

std::vector<std::string> Utf8All(const std::vector<std::wstring>& texts)
{
    std::vector<std::string> out;
    for (const std::wstring& text : texts)
        out.push_back(Utf8(text));
    return out;
}

// The "pid N id XXXXXXXX" lines a test plugin with recordpid=1 wrote, as
// pairs of process and plugin ID.
std::vector<std::pair<std::string, std::string>> EntryProcesses(const std::wstring& events)
{
    std::vector<std::pair<std::string, std::string>> found;
    for (const std::string& line : ReadLines(events))
    {
        if (line.rfind("pid ", 0) != 0)
            continue;
        size_t id = line.find(" id ");
        found.emplace_back(line.substr(4, id - 4), line.substr(id + 4));
    }
    return found;
}

class CliPool : public CliScan
{
};

} // namespace

TEST_F(CliPool, OneTwoOrMoreServersThanModulesGiveTheSameDatabase)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    CopyTo(SamplePath(L"SampleSynth"), plugins, L"Synth.dll");
    CopyTo(SamplePath(L"SampleShell"), plugins, L"Shell.dll");
    CopyTo(SamplePath(L"SampleCrash"), plugins, L"Crash.dll");
    CopyTo(SamplePath(L"SampleHang"), plugins, L"Hang.dll");
    CopyTo(FixturePath(L"TestPluginNoEntry"), plugins, L"NoEntry.dll");

    // The three runs side by side, each with its own database and dumps:
    // most of their time is the crash dumps being written.
    const std::vector<std::wstring> jobs = {L"1", L"2", L"12"};
    std::vector<std::unique_ptr<CapturedProcess>> tools;
    for (const std::wstring& j : jobs)
    {
        MakeFolder(scratch / (L"j" + j));
        tools.emplace_back(new CapturedProcess);
        ASSERT_TRUE(tools.back()->Start(
            ToolPath(), {L"--db", scratch / (L"j" + j + L"\\plugins.json"), L"--timeout", L"3", L"-j", j, plugins}));
    }
    std::vector<json> documents;
    for (size_t i = 0; i < jobs.size(); i++)
    {
        SCOPED_TRACE("-j " + Utf8(jobs[i]));
        EXPECT_EQ(tools[i]->Wait(ToolTimeoutMs), 1u) << tools[i]->Err();
        documents.push_back(ReadJson(scratch / (L"j" + jobs[i] + L"\\plugins.json")));
        std::wstring dumps = scratch / (L"j" + jobs[i] + L"\\dumps");
        const json* crash = ModuleNamed(documents.back(), "Crash.dll");
        ASSERT_NE(crash, nullptr);
        std::string server = ServerFolderOfDump(*crash, dumps);
        ASSERT_NE(server, "") << crash->dump();
        if (jobs[i] == L"1")
        {
            EXPECT_EQ(server, "server-1");
        }
        EXPECT_TRUE(Exists(Wide((*crash)["dump"].get<std::string>())));
        // Both attempts' dumps, in the folder of the server that scanned it.
        std::vector<std::string> files = Utf8All(FilesUnder(dumps));
        ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(files);
        for (const std::string& file : files)
            EXPECT_EQ(file.rfind(server + "\\", 0), 0u) << file;
        // A server makes its folder when it starts: no more servers than
        // the 6 modules, nor than asked for.
        const std::vector<std::string> allowed = {"server-1", "server-2", "server-3",
                                                  "server-4", "server-5", "server-6"};
        std::vector<std::string> folders = Utf8All(SubFolders(dumps));
        EXPECT_FALSE(folders.empty());
        size_t most = std::min<size_t>(std::stoul(Utf8(jobs[i])), allowed.size());
        for (const std::string& folder : folders)
        {
            EXPECT_NE(std::find(allowed.begin(), allowed.begin() + most, folder), allowed.begin() + most)
                << folder;
        }
    }

    const json& one = documents[0];
    EXPECT_EQ(FileNames(one), (std::vector<std::string>{"Crash.dll", "Effect.dll", "Hang.dll", "NoEntry.dll",
                                                        "Shell.dll", "Synth.dll"}));
    auto expect = [&](const std::string& name, const std::string& status, int attempts) {
        const json* module = ModuleNamed(one, name);
        ASSERT_NE(module, nullptr) << name;
        EXPECT_EQ((*module)["status"], status) << name;
        EXPECT_EQ((*module)["attempts"], attempts) << name;
    };
    expect("Crash.dll", "crashed", 2);
    expect("Effect.dll", "ok", 1);
    expect("Hang.dll", "timeout", 1);
    expect("NoEntry.dll", "failed", 1);
    expect("Shell.dll", "ok", 1);
    expect("Synth.dll", "ok", 1);
    EXPECT_EQ((*ModuleNamed(one, "Effect.dll"))["plugins"], SampleEffectPlugins);
    const json& shellPlugins = (*ModuleNamed(one, "Shell.dll"))["plugins"];
    ASSERT_EQ(shellPlugins.size(), 3u);
    EXPECT_EQ(shellPlugins[1]["status"], "ok");
    EXPECT_EQ(shellPlugins[2]["status"], "ok");
    EXPECT_EQ((*ModuleNamed(one, "Crash.dll"))["exceptionCode"], "C0000005");

    EXPECT_EQ(WithoutTimesAndDumps(documents[1]), WithoutTimesAndDumps(one));
    EXPECT_EQ(WithoutTimesAndDumps(documents[2]), WithoutTimesAndDumps(one));
}

TEST_F(CliPool, CrashInOneServerLeavesTheOtherServersScansAlone)
{
    CopyTo(SamplePath(L"SampleCrash"), plugins, L"Crash.dll");
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    CopyTo(SamplePath(L"SampleSynth"), plugins, L"Synth.dll");
    // Modules that take a while, so that the other server is in the middle
    // of one while this one crashes and writes its dumps.
    for (const wchar_t* name : {L"Slow1", L"Slow2", L"Slow3"})
    {
        CopyTo(FixturePath(L"TestPlugin"), plugins, std::wstring(name) + L".dll");
        WriteWholeFile(plugins + L"\\" + name + L".cfg", "name=Slow\nid=0x536C6F77\nsleep=2000\n");
    }

    ProcessRun run = Run({L"-j", L"2"});
    EXPECT_EQ(run.exitCode, 1u) << run.err;

    json document = ReadJson(db);
    for (const char* name : {"Effect.dll", "Slow1.dll", "Slow2.dll", "Slow3.dll", "Synth.dll"})
    {
        const json* module = ModuleNamed(document, name);
        ASSERT_NE(module, nullptr) << name;
        EXPECT_EQ((*module)["status"], "ok") << name;
        EXPECT_EQ((*module)["attempts"], 1) << name;
        EXPECT_FALSE(module->contains("dump")) << name;
    }
    const json* crash = ModuleNamed(document, "Crash.dll");
    ASSERT_NE(crash, nullptr);
    EXPECT_EQ((*crash)["status"], "crashed");
    EXPECT_EQ((*crash)["attempts"], 2);
    std::wstring dumps = scratch / L"dumps";
    std::string server = ServerFolderOfDump(*crash, dumps);
    ASSERT_NE(server, "") << crash->dump();
    std::vector<std::string> files = Utf8All(FilesUnder(dumps));
    ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(files);
    EXPECT_EQ(files[0].rfind(server + "\\", 0), 0u) << files[0];
    EXPECT_EQ(files[1].rfind(server + "\\", 0), 0u) << files[1];
}

TEST_F(CliPool, ShellAndAllItsSubPluginsAreScannedInOneServerProcess)
{
    for (const wchar_t* name : {L"A1", L"A2", L"A3"})
    {
        CopyTo(FixturePath(L"TestPlugin"), plugins, std::wstring(name) + L".dll");
        WriteWholeFile(plugins + L"\\" + name + L".cfg", "name=Other\nid=0x4F746872\nrecordpid=1\nsleep=1500\n");
    }
    CopyTo(FixturePath(L"TestPlugin"), plugins, L"Shell.dll");
    WriteWholeFile(plugins + L"\\Shell.cfg", "name=Pid Shell\nid=0x50696453\ncategory=10\nshellbyid=1\n"
                                                  "recordpid=1\nshell=0x11 First\nshell=0x22 Second\n"
                                                  "shell=0x33 Third\n");
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Z.dll");

    ProcessRun run = Run({L"-j", L"2"});
    EXPECT_EQ(run.exitCode, 0u) << run.err;

    const json document = ReadJson(db);
    const json* shell = ModuleNamed(document, "Shell.dll");
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ((*shell)["status"], "ok");
    ASSERT_EQ((*shell)["plugins"].size(), 4u) << shell->dump();
    EXPECT_EQ((*shell)["plugins"][3]["name"], "Third");
    EXPECT_EQ((*shell)["plugins"][3]["status"], "ok");

    auto entries = EntryProcesses(plugins + L"\\Shell.events");
    ASSERT_EQ(entries.size(), 4u) << ReadWholeFile(plugins + L"\\Shell.events");
    EXPECT_EQ(entries[0].second, "50696453");
    EXPECT_EQ(entries[1].second, "00000011");
    EXPECT_EQ(entries[2].second, "00000022");
    EXPECT_EQ(entries[3].second, "00000033");
    for (const auto& entry : entries)
        EXPECT_EQ(entry.first, entries[0].first) << ReadWholeFile(plugins + L"\\Shell.events");

    // Both servers were at work meanwhile.
    std::set<std::string> processes = {entries[0].first};
    for (const wchar_t* name : {L"A1", L"A2", L"A3"})
    {
        auto other = EntryProcesses(plugins + L"\\" + name + L".events");
        ASSERT_EQ(other.size(), 1u) << Utf8(name);
        processes.insert(other[0].first);
    }
    EXPECT_EQ(processes.size(), 2u);
}

TEST_F(CliPool, RescanTakesTheSlowestModuleOfTheLastRunFirst)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"A.dll");
    CopyTo(SamplePath(L"SampleSynth"), plugins, L"B.dll");
    CopyTo(FixturePath(L"TestPlugin"), plugins, L"Z.dll");
    WriteWholeFile(plugins + L"\\Z.cfg", "name=Slow\nid=0x536C6F77\nsleep=1500\n");
    auto finished = [](const std::string& err) {
        std::vector<std::string> names;
        for (const std::string& line : SplitLines(err))
        {
            if (line.rfind("[", 0) == 0)
                names.push_back(line.substr(line.find_last_of('\\') + 1, line.find(" (") - line.find_last_of('\\') - 1));
        }
        return names;
    };
    // One server: modules finish in the order they are taken.
    ProcessRun first = Run({L"-j", L"1"});
    ASSERT_EQ(first.exitCode, 0u) << first.err;
    EXPECT_EQ(finished(first.err), (std::vector<std::string>{"A.dll", "B.dll", "Z.dll"})) << first.err;

    ProcessRun second = Run({L"-j", L"1", L"--rescan"});
    ASSERT_EQ(second.exitCode, 0u) << second.err;
    ASSERT_EQ(finished(second.err).size(), 3u) << second.err;
    EXPECT_EQ(finished(second.err)[0], "Z.dll") << second.err;
}

// Builds of the same plugins for x64 and x86 side by side, hostile ones
// too, through both servers.
TEST_F(CliPool, BuildsForBothMachinesGiveOneDatabaseForEveryJobCount)
{
    std::string why;
    if (!X86ProgramsRun(&why))
        GTEST_SKIP() << why;
    std::vector<std::wstring> modules;
    for (const wchar_t* module : {L"samples\\SampleEffect.dll", L"samples\\SampleShell.dll",
                                  L"samples\\SampleCrash.dll", L"vst3\\Vst3Suite.vst3", L"clap\\ClapSuite.clap"})
    {
        modules.push_back(BinPath(module));
        modules.push_back(X86BinPath(module));
    }
    const std::vector<std::wstring> jobs = {L"1", L"2"};
    std::vector<std::unique_ptr<CapturedProcess>> tools;
    for (const std::wstring& j : jobs)
    {
        MakeFolder(scratch / (L"j" + j));
        std::vector<std::wstring> args = {L"--db", scratch / (L"j" + j + L"\\plugins.json"), L"-j", j};
        args.insert(args.end(), modules.begin(), modules.end());
        tools.emplace_back(new CapturedProcess);
        ASSERT_TRUE(tools.back()->Start(ToolPath(), args));
    }
    std::vector<json> documents;
    for (size_t i = 0; i < jobs.size(); i++)
    {
        EXPECT_EQ(tools[i]->Wait(ToolTimeoutMs), 1u) << tools[i]->Err();
        documents.push_back(ReadJson(scratch / (L"j" + jobs[i] + L"\\plugins.json")));
    }
    const json& one = documents[0];
    EXPECT_EQ(one["server"], "Orvanta Plugin Scan Server (x64)");
    ASSERT_EQ(one["modules"].size(), 10u);
    for (const json& module : one["modules"])
    {
        std::string path = module["path"];
        bool x86 = path.find("\\x86\\") != std::string::npos;
        EXPECT_EQ(module["machine"], x86 ? "x86" : "x64") << path;
        bool crash = path.find("SampleCrash") != std::string::npos;
        EXPECT_EQ(module["status"], crash ? "crashed" : "ok") << path;
        if (crash)
        {
            EXPECT_EQ(module["exceptionCode"], "C0000005") << path;
            EXPECT_EQ(module["faultingModule"], path);
        }
    }
    const json* effect32 = ModuleNamed(one, "x86\\samples\\SampleEffect.dll");
    ASSERT_NE(effect32, nullptr);
    json expected = SampleEffectPlugins;
    expected[0]["platform"] = "x86";
    EXPECT_EQ((*effect32)["plugins"], expected);
    EXPECT_EQ(WithoutTimesAndDumps(documents[1]), WithoutTimesAndDumps(one));

    ProcessRun list = RunTool({L"--list", L"--db", scratch / L"j1\\plugins.json"});
    EXPECT_TRUE(Contains(list.out, "Sample Effect (Zandrel Software): vst2 (x64, x86)\n")) << list.out;
}

TEST_F(CliScan, NamedThirtyTwoBitServerThatIsNotThereIsAnErrorBeforeAnyScan)
{
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    ProcessRun run = Run({L"--server32", scratch / L"none.exe"});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_TRUE(Contains(run.err, "no 32-bit scan server at " + Utf8(scratch / L"none.exe") +
                                      " (--server32 names another)"))
        << run.err;
    EXPECT_FALSE(Exists(db));
}
