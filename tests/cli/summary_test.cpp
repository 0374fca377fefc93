// The summary at the end of a run: counts by outcome, in all and for each
// format, the problems sorted by path whatever order the servers finished
// them in, and a module's counts moved when a crash found later changed its
// entry.
#include <orvanta/scan.h>
#include "summary.h"
#include <gtest/gtest.h>

using namespace orvanta;
using orvantacli::RunTally;
using orvantacli::SummaryText;

namespace {

PluginEntry Plugin(Status status, std::optional<uint32_t> shellId = {}, const std::string& name = "")
{
    PluginEntry plugin;
    plugin.status = status;
    plugin.shellId = shellId;
    plugin.report.name = name;
    return plugin;
}

ModuleResult Result(const std::wstring& path, Status status)
{
    ModuleResult result;
    result.path = path;
    result.status = status;
    result.attempts = 1;
    return result;
}

} // namespace

TEST(RunTally, ProblemsAreListedByPathAndAReplacedEntryMovesItsCounts)
{
    RunTally tally;
    tally.database = L"C:\\data\\plugins.json";
    tally.elapsed = std::chrono::milliseconds(2500);
    tally.unchanged = 3;
    tally.removed = 1;

    ModuleResult timedOut = Result(L"C:\\P\\d.dll", Status::timeout);
    timedOut.scanMs = 3000;
    timedOut.windows.push_back({"Licence check", "Please insert your dongle"});
    ModuleResult crashed = Result(L"C:\\P\\b.dll", Status::crashed);
    crashed.attempts = 2;
    crashed.crash = CrashInfo{"C:\\d\\server-2\\x.mdmp", "", 0xC0000005, 0, "C:\\P\\b.dll"};
    crashed.error = "crashed while scanning: exception 0xC0000005 in C:\\P\\b.dll";
    crashed.exitCode = 9;
    ModuleResult shell = Result(L"C:\\P\\e.dll", Status::ok);
    shell.plugins = {Plugin(Status::ok), Plugin(Status::ok, 0x436C5331u, "Sub One"),
                     Plugin(Status::crashed, 0x436C5332u, "Sub Two")};
    ModuleResult leaver = Result(L"C:\\P\\c.dll", Status::ok);
    leaver.plugins = {Plugin(Status::ok)};
    ModuleResult failed = Result(L"C:\\P\\a.dll", Status::failed);
    failed.error = "Entry point not found, not a VST plugin";
    failed.plugins = {Plugin(Status::failed)};
    for (const ModuleResult* m : {&timedOut, &crashed, &shell, &leaver, &failed})
        tally.Add(*m);

    // c.dll left a thread running that crashed a later request.
    ModuleResult leaverCrashed = leaver;
    leaverCrashed.status = Status::crashed;
    leaverCrashed.crash = CrashInfo{"C:\\d\\server-1\\y.mdmp", "", 0xC0000005, 0, "C:\\P\\c.dll", true};
    leaverCrashed.exitCode = 9;
    leaverCrashed.error = "a thread it left running crashed the server during a later request";
    tally.Replace(leaver, leaverCrashed);

    Blame old;
    old.path = L"C:\\P\\old.dll";
    old.crash.exceptionCode = 0xC0000005;
    old.crash.dumpPath = "C:\\d\\server-1\\z.mdmp";
    tally.blamed.push_back(old);

    EXPECT_EQ(tally.scanned, 5u);
    EXPECT_EQ(SummaryText(tally),
              "Scanned 5 modules in 2.5 s: 1 ok, 1 failed, 2 crashed, 1 timed out.\n"
              "Plugins: 3 ok, 1 failed, 1 crashed.\n"
              "  vst2: 5 modules (1 ok, 1 failed, 2 crashed, 1 timed out), 5 plugins (3 ok, 1 failed, 1 crashed).\n"
              "3 unchanged (not scanned), 1 removed (their files are gone).\n"
              "Problems:\n"
              "  C:\\P\\a.dll: failed: Entry point not found, not a VST plugin\n"
              "  C:\\P\\b.dll: crashed in both attempts: exception C0000005 in b.dll; dump C:\\d\\server-2\\x.mdmp\n"
              "  C:\\P\\c.dll: crashed: exception C0000005 in c.dll (a thread it left running crashed the server "
              "during a later request); dump C:\\d\\server-1\\y.mdmp\n"
              "  C:\\P\\d.dll: timed out after 3.0 s, waiting on dialog 'Licence check: Please insert your dongle'\n"
              "  C:\\P\\e.dll>436C5332 (Sub Two): crashed\n"
              "  C:\\P\\old.dll: crashed later, from a thread it left running (exception C0000005; dump "
              "C:\\d\\server-1\\z.mdmp)\n"
              "Database: C:\\data\\plugins.json\n");
}

TEST(RunTally, ReplacedEntryLeavesNoZeroCountBehind)
{
    RunTally tally;
    tally.database = L"C:\\plugins.json";
    ModuleResult leaver = Result(L"C:\\P\\Leaver.dll", Status::ok);
    leaver.plugins = {Plugin(Status::ok)};
    tally.Add(leaver);
    EXPECT_EQ(SummaryText(tally), "Scanned 1 module in 0.0 s: 1 ok.\nPlugins: 1 ok.\n"
                                  "  vst2: 1 module (1 ok), 1 plugin (1 ok).\nDatabase: C:\\plugins.json\n");

    ModuleResult after = leaver;
    after.status = Status::crashed;
    after.crash = CrashInfo{"", "", 0xC0000005, 0, "", true};
    after.error = "a thread it left running crashed the server during a later request";
    tally.Replace(leaver, after);
    EXPECT_EQ(tally.scanned, 1u);
    EXPECT_EQ(tally.modules[Status::ok], 0u);
    EXPECT_EQ(tally.modules[Status::crashed], 1u);
    EXPECT_EQ(SummaryText(tally),
              "Scanned 1 module in 0.0 s: 1 crashed.\nPlugins: 1 ok.\n"
              "  vst2: 1 module (1 crashed), 1 plugin (1 ok).\nProblems:\n"
              "  C:\\P\\Leaver.dll: crashed: exception C0000005 (a thread it left running crashed the server during "
              "a later request)\n"
              "Database: C:\\plugins.json\n");
}

TEST(RunTally, SamePathInAnotherLetterCaseIsOneProblem)
{
    RunTally tally;
    tally.database = L"C:\\plugins.json";
    ModuleResult first = Result(L"C:\\P\\A.dll", Status::failed);
    first.error = "first";
    ModuleResult before = Result(L"c:\\p\\a.dll", Status::failed);
    before.error = "first";
    ModuleResult after = before;
    after.status = Status::crashed;
    after.error = "a thread it left running crashed the server during a later request";
    tally.Add(first);
    tally.Replace(before, after);
    ASSERT_EQ(tally.problems.size(), 1u);
    EXPECT_EQ(tally.problems.begin()->second.status, Status::crashed);
}

TEST(ProblemText, FailedModuleWithALoadProblemShowsItAfterTheServersError)
{
    ModuleResult failed = Result(L"C:\\P\\NeedsDep.dll", Status::failed);
    failed.error = "Failed to load library, err=126";
    failed.loadProblem = "needs libgcc_s_seh-1.dll, not found";
    EXPECT_EQ(orvantacli::ProblemText(failed), "failed: Failed to load library, err=126 (needs libgcc_s_seh-1.dll, not found)");
}

TEST(ProblemText, WrongMachineIsShownOnceThoughItIsBothErrorAndLoadProblem)
{
    ModuleResult failed = Result(L"C:\\P\\Old.dll", Status::failed);
    failed.error = failed.loadProblem = "32-bit module: built for x86; only 64-bit (x64) modules can be loaded";
    EXPECT_EQ(orvantacli::ProblemText(failed),
              "failed: 32-bit module: built for x86; only 64-bit (x64) modules can be loaded");
}

TEST(RunTally, ModulesAndPluginsAreCountedPerFormatAndVst3ProblemsNameClassPhaseAndFindings)
{
    RunTally tally;
    tally.database = L"C:\\plugins.json";
    tally.elapsed = std::chrono::milliseconds(1200);
    ModuleResult effect = Result(L"C:\\P\\Effect.dll", Status::ok);
    effect.plugins = {Plugin(Status::ok)};
    ModuleResult multi = Result(L"C:\\P\\Multi.vst3", Status::ok);
    multi.format = PluginFormat::vst3;
    for (Status s : {Status::ok, Status::ok, Status::crashed})
        multi.plugins.push_back(Plugin(s));
    multi.plugins[0].vst3.emplace();
    multi.plugins[0].vst3->name = "Sample Gain";
    multi.plugins[1].vst3.emplace();
    multi.plugins[2].vst3.emplace();
    multi.plugins[2].vst3->classId = "56535453616D706C6553796E74680000";
    multi.plugins[2].vst3->name = "Sample Synth";
    multi.plugins[2].phase = "initialize";
    multi.plugins[2].attempts = 2;
    multi.plugins[2].error = "crashed during the request (no dump file found)";
    ModuleResult null = Result(L"C:\\P\\Null.vst3", Status::failed);
    null.format = PluginFormat::vst3;
    null.phase = "GetPluginFactory";
    null.error = "GetPluginFactory returned null";
    multi.findings = {"class 5653544753616D706C65476169700000: name 'Gain' in moduleinfo.json, 'Sample Gain' "
                      "from the factory"};
    ModuleResult bare = Result(L"C:\\P\\Bare.vst3", Status::failed);
    bare.format = PluginFormat::vst3;
    bare.error = bare.loadProblem = "bundle has no x64 binary: expected Contents\\x86_64-win\\Bare.vst3";
    for (const ModuleResult* m : {&effect, &multi, &null, &bare})
        tally.Add(*m);

    EXPECT_EQ(SummaryText(tally),
              "Scanned 4 modules in 1.2 s: 2 ok, 2 failed.\n"
              "Plugins: 3 ok, 1 crashed.\n"
              "  vst2: 1 module (1 ok), 1 plugin (1 ok).\n"
              "  vst3: 3 modules (1 ok, 2 failed), 3 plugins (2 ok, 1 crashed).\n"
              "Problems:\n"
              "  C:\\P\\Bare.vst3: failed: bundle has no x64 binary: expected Contents\\x86_64-win\\Bare.vst3\n"
              "  C:\\P\\Multi.vst3>56535453616D706C6553796E74680000 (Sample Synth): crashed in initialize: crashed "
              "during the request (no dump file found)\n"
              "  C:\\P\\Null.vst3: failed in GetPluginFactory: GetPluginFactory returned null\n"
              "Findings:\n"
              "  C:\\P\\Multi.vst3: class 5653544753616D706C65476169700000: name 'Gain' in moduleinfo.json, "
              "'Sample Gain' from the factory\n"
              "Database: C:\\plugins.json\n");
}

TEST(ProblemText, Vst3ModuleNamesTheStepItWentWrongIn)
{
    ModuleResult crashed = Result(L"C:\\P\\Crash.vst3", Status::crashed);
    crashed.format = PluginFormat::vst3;
    crashed.attempts = 2;
    crashed.phase = "InitDll";
    crashed.error = "crashed during the request (no dump file found)";
    EXPECT_EQ(orvantacli::ProblemText(crashed),
              "crashed in InitDll in both attempts: crashed during the request (no dump file found)");
    ModuleResult hung = Result(L"C:\\P\\Hang.vst3", Status::timeout);
    hung.format = PluginFormat::vst3;
    hung.phase = "class info";
    hung.scanMs = 3000;
    hung.error = "no answer within 3000 ms";
    EXPECT_EQ(orvantacli::ProblemText(hung), "timed out in class info after 3.0 s: no answer within 3000 ms");
}

// A module of many findings is one line (count, kinds, the first); a module
// of one shows it as it is; --findings lists every one.
TEST(RunTally, ModuleWithManyFindingsIsOneLineUnlessEveryFindingIsAsked)
{
    RunTally tally;
    tally.database = L"C:\\plugins.json";
    ModuleResult big = Result(L"C:\\P\\Big.vst3", Status::ok);
    big.format = PluginFormat::vst3;
    big.findings = {"class 00000000000000000000000000000001: name 'A' in moduleinfo.json, 'B' from the factory",
                    "class 00000000000000000000000000000002 ('C'): listed by the factory, not in moduleinfo.json",
                    "class 00000000000000000000000000000003: crashed in terminate (C0000005); the server survived it"};
    ModuleResult one = Result(L"C:\\P\\One.clap", Status::ok);
    one.format = PluginFormat::clap;
    one.findings = {"plugin 3: no id; skipped"};
    tally.Add(big);
    tally.Add(one);

    std::string folded = SummaryText(tally);
    EXPECT_NE(folded.find("Findings (one line a module; --findings lists each):\n"
                          "  C:\\P\\Big.vst3: 3 findings (2 moduleinfo.json, 1 survived crashes); first: class "
                          "00000000000000000000000000000001: name 'A' in moduleinfo.json, 'B' from the factory\n"
                          "  C:\\P\\One.clap: plugin 3: no id; skipped\n"
                          "Database: C:\\plugins.json\n"),
              std::string::npos)
        << folded;

    tally.allFindings = true;
    std::string all = SummaryText(tally);
    EXPECT_NE(all.find("Findings:\n"
                       "  C:\\P\\Big.vst3: class 00000000000000000000000000000001: name 'A' in moduleinfo.json, 'B' "
                       "from the factory\n"
                       "  C:\\P\\Big.vst3: class 00000000000000000000000000000002 ('C'): listed by the factory, not "
                       "in moduleinfo.json\n"
                       "  C:\\P\\Big.vst3: class 00000000000000000000000000000003: crashed in terminate (C0000005); "
                       "the server survived it\n"
                       "  C:\\P\\One.clap: plugin 3: no id; skipped\n"),
              std::string::npos)
        << all;
}

// Four modules that failed alike are one line, as are a module's four
// plugins that did not end ok; three are still listed one by one.
TEST(RunTally, ManyProblemsThatSayTheSameAreOneLine)
{
    RunTally tally;
    tally.database = L"C:\\plugins.json";
    for (const wchar_t* name : {L"C:\\P\\a.dll", L"C:\\P\\b.dll", L"C:\\P\\c.dll", L"C:\\P\\d.dll"})
    {
        ModuleResult helper = Result(name, Status::failed);
        helper.error = "Entry point not found, not a VST plugin";
        tally.Add(helper);
    }
    ModuleResult odd = Result(L"C:\\P\\e.dll", Status::failed);
    odd.error = "Failed to load library, err=193";
    tally.Add(odd);
    ModuleResult bundle = Result(L"C:\\P\\Many.vst3", Status::ok);
    bundle.format = PluginFormat::vst3;
    for (int i = 1; i <= 4; i++)
    {
        PluginEntry p = Plugin(i == 4 ? Status::crashed : Status::failed);
        p.vst3.emplace();
        p.vst3->classId = "0000000000000000000000000000000" + std::to_string(i);
        p.vst3->name = "Class " + std::to_string(i);
        p.phase = i == 4 ? "initialize" : "createInstance";
        p.error = i == 4 ? "crashed during the request" : "createInstance failed, result=00000001";
        bundle.plugins.push_back(p);
    }
    tally.Add(bundle);
    ModuleResult few = Result(L"C:\\P\\Few.vst3", Status::ok);
    few.format = PluginFormat::vst3;
    few.plugins = {bundle.plugins[0], bundle.plugins[1], bundle.plugins[2]};
    tally.Add(few);

    std::string text = SummaryText(tally);
    EXPECT_NE(text.find("Problems:\n"
                        "  4 modules: failed: Entry point not found, not a VST plugin: C:\\P\\a.dll, C:\\P\\b.dll, "
                        "C:\\P\\c.dll and 1 more\n"
                        "  C:\\P\\e.dll: failed: Failed to load library, err=193\n"
                        "  C:\\P\\Few.vst3>00000000000000000000000000000001 (Class 1): failed in createInstance: "
                        "createInstance failed, result=00000001\n"
                        "  C:\\P\\Few.vst3>00000000000000000000000000000002 (Class 2): failed in createInstance: "
                        "createInstance failed, result=00000001\n"
                        "  C:\\P\\Few.vst3>00000000000000000000000000000003 (Class 3): failed in createInstance: "
                        "createInstance failed, result=00000001\n"
                        "  C:\\P\\Many.vst3: 4 plugins did not end ok (3 failed, 1 crashed); first: "
                        ">00000000000000000000000000000001 (Class 1): failed in createInstance: createInstance "
                        "failed, result=00000001\n"
                        "Database: C:\\plugins.json\n"),
              std::string::npos)
        << text;
}

// Past ten modules with findings the rest are counted, not shown.
TEST(RunTally, FindingsOfMoreThanTenModulesShowTheFirstTenAndCountTheRest)
{
    RunTally tally;
    tally.database = L"C:\\plugins.json";
    for (int i = 10; i < 22; i++)
    {
        ModuleResult m = Result(L"C:\\P\\m" + std::to_wstring(i) + L".clap", Status::ok);
        m.format = PluginFormat::clap;
        m.findings = {"plugin 3: no id; skipped"};
        tally.Add(m);
    }
    std::string text = SummaryText(tally);
    EXPECT_NE(text.find("Findings (one line a module; --findings lists each):\n"
                        "  C:\\P\\m10.clap: plugin 3: no id; skipped\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  C:\\P\\m19.clap: plugin 3: no id; skipped\n"
                        "  and 2 more modules\n"
                        "Database: C:\\plugins.json\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("m20.clap"), std::string::npos) << text;
}
