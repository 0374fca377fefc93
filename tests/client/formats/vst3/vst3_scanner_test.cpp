// VST3 modules through ModuleScanner, answered by the stand-in server from
// scripts written as the server's VST3 exchange gives them: the module
// request, then one request per audio module class, each class's crash,
// hang or failure recorded on that class alone with the step it happened
// in, and bundles that cannot load never reaching a server.
#include "build_paths.h"
#include "../../client_support.h"
#include "desktop.h"
#include "files.h"
#include "scratch_folder.h"
#include "server_script.h"
#include "text.h"
#include <gtest/gtest.h>

using namespace clienttest;
using namespace testsupport;
using namespace orvanta;

namespace {

using namespace testsupport::vst3answers;

// A bundle NAME.vst3 in the scratch folder whose binary holds text (not a
// PE image, so it goes to the server as it is); the bundle's path.
std::wstring MakeBundle(const ScratchFolder& scratch, const std::wstring& name, std::wstring* binary)
{
    std::wstring bundle = scratch / name;
    MakeFolder(bundle);
    MakeFolder(bundle + L"\\Contents");
    MakeFolder(bundle + L"\\Contents\\x86_64-win");
    *binary = bundle + L"\\Contents\\x86_64-win\\" + name;
    WriteWholeFile(*binary, "the stand-in server loads nothing");
    return bundle;
}

class Vst3Scan : public ::testing::Test
{
protected:
    ScratchFolder scratch;
    std::wstring binary;
    std::wstring bundle = MakeBundle(scratch, L"Multi.vst3", &binary);
    std::string bin = Utf8(binary);
    std::string ModuleRequest() const { return "vst3|" + bin; }
    std::string ClassRequest(const std::string& id) const { return "vst3|" + bin + ">" + id; }
};

} // namespace

// The members themselves are read as the parser reads them (its tests) and
// land in the database as CliVst3 checks; here: what the scanner adds.
TEST_F(Vst3Scan, FactoryAndEachAudioModuleClassAreRecorded)
{
    ModuleScanner scanner(ScriptedServer(scratch, Module + Gain + Synth, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.path, bundle);
    EXPECT_EQ(r.format, PluginFormat::vst3);
    EXPECT_EQ(r.binary, binary);
    EXPECT_EQ(r.attempts, 1);
    ASSERT_TRUE(r.factory);
    EXPECT_EQ(r.factory->vendor, "Zandrel Software");
    EXPECT_EQ(r.classCount, 3);
    ASSERT_EQ(r.plugins.size(), 3u);
    // Only the audio module classes get an instance, and with it buses.
    const std::vector<std::string> factoryAndInstance = {"factory", "instance"}, factory = {"factory"};
    EXPECT_EQ(r.plugins[0].vst3->sources, factoryAndInstance);
    EXPECT_EQ(r.plugins[1].vst3->sources, factory);
    EXPECT_EQ(r.plugins[2].vst3->sources, factoryAndInstance);
    ASSERT_TRUE(r.plugins[2].vst3->buses);
    EXPECT_EQ(r.plugins[2].vst3->buses->eventInputBuses, 1);
    EXPECT_FALSE(r.plugins[1].vst3->buses);

    // One server, the module once, then only the audio module classes, then
    // the module is freed.
    EXPECT_EQ(ScriptedRequests(scratch),
              (std::vector<std::string>{ModuleRequest(), ClassRequest(GainId), ClassRequest(SynthId), "vst3|"}));
}

TEST_F(Vst3Scan, ClassCrashingOnceIsOkOnItsRetryInAFreshServer)
{
    ModuleScanner scanner(
        ScriptedServer(scratch, Module + GainCrashIn("initialize") + Gain + Synth, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.attempts, 1);
    ASSERT_EQ(r.plugins.size(), 3u);
    EXPECT_EQ(r.plugins[0].status, Status::ok);
    EXPECT_EQ(r.plugins[0].attempts, 2);
    EXPECT_EQ(r.plugins[0].phase, "");
    EXPECT_EQ(r.plugins[0].error, "");
    ASSERT_TRUE(r.plugins[0].vst3->buses);
    EXPECT_EQ(r.plugins[0].vst3->buses->audioOutputs, 2);
    EXPECT_EQ(r.plugins[2].status, Status::ok);
    EXPECT_EQ(r.plugins[2].attempts, 1);
    // The class request loads the module itself in the fresh server.
    EXPECT_EQ(ScriptedRequests(scratch),
              (std::vector<std::string>{ModuleRequest(), ClassRequest(GainId), ClassRequest(GainId),
                                        ClassRequest(SynthId), "vst3|"}));
}

TEST_F(Vst3Scan, ClassCrashingTwiceIsRecordedAloneWithItsPhaseAndTheOthersGoOn)
{
    std::string crash = GainCrashIn("bus info");
    ModuleScanner scanner(ScriptedServer(scratch, Module + crash + crash + Synth, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_FALSE(r.crash);
    EXPECT_FALSE(r.exitCode);
    ASSERT_EQ(r.plugins.size(), 3u);
    const PluginEntry& gain = r.plugins[0];
    EXPECT_EQ(gain.status, Status::crashed);
    EXPECT_EQ(gain.attempts, 2);
    EXPECT_EQ(gain.phase, "bus info");
    EXPECT_EQ(gain.error, "crashed during the request (no dump file found)");
    ASSERT_TRUE(gain.vst3);
    EXPECT_EQ(gain.vst3->name, "Sample Gain");
    EXPECT_FALSE(gain.vst3->buses);
    EXPECT_EQ(gain.vst3->sources, (std::vector<std::string>{"factory"}));
    EXPECT_EQ(r.plugins[1].status, Status::ok);
    EXPECT_EQ(r.plugins[2].status, Status::ok);
    ASSERT_TRUE(r.plugins[2].vst3->buses);
    EXPECT_EQ(HasProblem(r), true);
    EXPECT_EQ(EndedBadly(r), true);
    EXPECT_EQ(ScriptedRequests(scratch),
              (std::vector<std::string>{ModuleRequest(), ClassRequest(GainId), ClassRequest(GainId),
                                        ClassRequest(SynthId), "vst3|"}));
}

TEST_F(Vst3Scan, HangingClassIsATimeoutInItsPhaseNotRetriedAndTheOthersGoOn)
{
    std::string hang = "= vst3|BINARY>" + GainId + "\n"
                       "info:Scanning VST3 class: 'vst3|BINARY>" + GainId + "'\n"
                       "info:Re-using previous library instance...\n"
                       "info:Phase: createInstance\n"
                       "info:Phase: initialize\n"
                       "!hang\n";
    ModuleScanner scanner(ScriptedServer(scratch, Module + hang + Synth, binary, 3000));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 3u);
    EXPECT_EQ(r.plugins[0].status, Status::timeout);
    EXPECT_EQ(r.plugins[0].attempts, 1);
    EXPECT_EQ(r.plugins[0].phase, "initialize");
    EXPECT_EQ(r.plugins[0].error, "no answer within 3000 ms");
    EXPECT_EQ(r.plugins[2].status, Status::ok);
    EXPECT_EQ(ScriptedRequests(scratch),
              (std::vector<std::string>{ModuleRequest(), ClassRequest(GainId), ClassRequest(SynthId), "vst3|"}));
}

TEST_F(Vst3Scan, ClassWaitingOnADialogTimesOutWithTheDialogNamed)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the message box cannot show";
    std::string dialog = "= vst3|BINARY>" + SynthId + "\n"
                         "info:Scanning VST3 class: 'vst3|BINARY>" + SynthId + "'\n"
                         "info:Re-using previous library instance...\n"
                         "info:Phase: createInstance\n"
                         "info:Phase: initialize\n"
                         "!messagebox Licence check|Please insert your dongle\n";
    ModuleScanner scanner(ScriptedServer(scratch, Module + Gain + dialog, binary, 4000));
    std::string shown;
    ScanCallbacks callbacks;
    callbacks.onDialog = [&](const std::vector<DialogWindow>& windows) {
        for (const DialogWindow& w : windows)
            shown += w.title + "|";
    };
    ModuleResult r = scanner.ScanModule(bundle, callbacks);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 3u);
    EXPECT_EQ(r.plugins[0].status, Status::ok);
    const PluginEntry& synth = r.plugins[2];
    EXPECT_EQ(synth.status, Status::timeout);
    EXPECT_EQ(synth.phase, "initialize");
    EXPECT_EQ(synth.error, "no answer within 4000 ms, waiting on dialog 'Licence check: Please insert your dongle'");
    EXPECT_EQ(shown, "Licence check|");
}

TEST_F(Vst3Scan, FailedInstanceIsFailedWithTheReportsPhase)
{
    std::string failed = "= vst3|BINARY>" + GainId + "\n"
                         "info:Scanning VST3 class: 'vst3|BINARY>" + GainId + "'\n"
                         "info:Re-using previous library instance...\n"
                         "info:Phase: createInstance\n"
                         "error:createInstance failed, result=80004005\n"
                         "info:Finished\n"
                         ">:{\n"
                         ">:  \"format\": \"vst3\",\n"
                         ">:  \"cid\": \"" + GainId + "\",\n"
                         ">:  \"error\": \"createInstance failed, result=80004005\",\n"
                         ">:  \"phase\": \"createInstance\",\n"
                         ">:  \"audioInputBuses\": 0,\n"
                         ">:  \"audioOutputBuses\": 0,\n"
                         ">:  \"eventInputBuses\": 0,\n"
                         ">:  \"eventOutputBuses\": 0,\n"
                         ">:  \"audioInputs\": 0,\n"
                         ">:  \"audioOutputs\": 0,\n"
                         ">:  \"buses\": [\n"
                         ">:  ]\n"
                         ">:}\n";
    ModuleScanner scanner(ScriptedServer(scratch, Module + failed + Synth, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 3u);
    EXPECT_EQ(r.plugins[0].status, Status::failed);
    EXPECT_EQ(r.plugins[0].attempts, 1);
    EXPECT_EQ(r.plugins[0].error, "createInstance failed, result=80004005");
    EXPECT_EQ(r.plugins[0].phase, "createInstance");
    EXPECT_FALSE(r.plugins[0].vst3->buses);
    EXPECT_EQ(r.plugins[2].status, Status::ok);
}

TEST_F(Vst3Scan, ModuleCrashingTwiceRecordsThePhaseOfItsLastLine)
{
    const std::string crash = "= vst3|BINARY\n"
                              "info:Scanning VST3 module: 'vst3|BINARY'\n"
                              "info:Phase: load\n"
                              "info:Phase: InitDll\n"
                              "!exit 9\n";
    ModuleScanner scanner(ScriptedServer(scratch, crash, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::crashed);
    EXPECT_EQ(r.attempts, 2);
    EXPECT_EQ(r.phase, "InitDll");
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_EQ(r.error, "crashed during the request (no dump file found)");
    EXPECT_FALSE(r.factory);
    EXPECT_TRUE(r.plugins.empty());
    EXPECT_EQ(ScriptedRequests(scratch), (std::vector<std::string>{ModuleRequest(), ModuleRequest()}));
}

TEST_F(Vst3Scan, FailedModuleKeepsTheReportsPhaseAndHasNoFactory)
{
    const std::string failed = "= vst3|BINARY\n"
                               "info:Scanning VST3 module: 'vst3|BINARY'\n"
                               "info:Phase: load\n"
                               "info:Phase: GetPluginFactory\n"
                               "error:GetPluginFactory returned null\n"
                               "info:Finished\n"
                               ">:{\n"
                               ">:  \"format\": \"vst3\",\n"
                               ">:  \"error\": \"GetPluginFactory returned null\",\n"
                               ">:  \"phase\": \"GetPluginFactory\",\n"
                               ">:  \"initDll\": false,\n"
                               ">:  \"exitDll\": false,\n"
                               ">:  \"factory\": {\"vendor\": \"\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n"
                               ">:  \"classCount\": 0,\n"
                               ">:  \"classes\": [\n"
                               ">:  ]\n"
                               ">:}\n";
    ModuleScanner scanner(ScriptedServer(scratch, failed, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.error, "GetPluginFactory returned null");
    EXPECT_EQ(r.phase, "GetPluginFactory");
    EXPECT_FALSE(r.factory);
    EXPECT_EQ(r.classCount, 0);
    EXPECT_TRUE(r.plugins.empty());
}

TEST_F(Vst3Scan, OutOfMemoryAnswerIsAFailureOfTheModule)
{
    // The server's fixed answer when it cannot build a report, for any request.
    const std::string outOfMemory = "= vst3|BINARY\n"
                                    "info:Scanning VST3 module: 'vst3|BINARY'\n"
                                    "info:Phase: load\n"
                                    "error:Out of memory while scanning the plugin\n"
                                    ">:{\n"
                                    ">:  \"id\":        \"00000000\",\n"
                                    ">:  \"name\":      \"\",\n"
                                    ">:  \"vendor\":    \"\",\n"
                                    ">:  \"product\":   \"\",\n"
                                    ">:  \"version\":   \"\",\n"
                                    ">:  \"error\":     \"Out of memory while scanning the plugin\",\n"
                                    ">:  \"numInputs\": 0,\n"
                                    ">:  \"numOutputs\":0,\n"
                                    ">:  \"wantsMidi\":  false,\n"
                                    ">:  \"sendsMidi\": false,\n"
                                    ">:  \"platform\":  \"x64\",\n"
                                    ">:  \"audio64\":   false,\n"
                                    ">:  \"category\":  -1,\n"
                                    ">:  \"synthEdit\": false,\n"
                                    ">:}\n";
    ModuleScanner scanner(ScriptedServer(scratch, outOfMemory, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "Out of memory while scanning the plugin");
    EXPECT_EQ(r.phase, "load");
    EXPECT_TRUE(r.plugins.empty());
}

TEST_F(Vst3Scan, AnswerForAnotherClassIsOutOfStepAndLost)
{
    std::string wrong = Synth;
    wrong.replace(0, wrong.find('\n'), "= vst3|BINARY>" + GainId);
    ModuleScanner scanner(ScriptedServer(scratch, Module + wrong + Synth, binary));
    ModuleResult r = scanner.ScanModule(bundle);
    ASSERT_EQ(r.plugins.size(), 3u);
    EXPECT_EQ(r.plugins[0].status, Status::lost);
    EXPECT_EQ(r.plugins[0].error, "answer for class " + SynthId + " to a request for class " + GainId);
    EXPECT_EQ(r.plugins[2].status, Status::ok);
}

TEST_F(Vst3Scan, SingleFileModuleIsItsOwnBinaryAndFailsWhenItsFactoryListsNoClass)
{
    std::wstring single = scratch.Write(L"Single.vst3", "not a PE image either");
    const std::string answer = "= vst3|BINARY\n"
                               "info:Phase: load\n"
                               ">:{\n"
                               ">:  \"format\": \"vst3\",\n"
                               ">:  \"error\": \"\",\n"
                               ">:  \"phase\": \"\",\n"
                               ">:  \"initDll\": false,\n"
                               ">:  \"exitDll\": false,\n"
                               ">:  \"factory\": {\"vendor\": \"Solo\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n"
                               ">:  \"classCount\": 0,\n"
                               ">:  \"classes\": [\n"
                               ">:  ]\n"
                               ">:}\n";
    ModuleScanner scanner(ScriptedServer(scratch, answer, single));
    ModuleResult r = scanner.ScanModule(single);
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "the factory lists no classes");
    EXPECT_EQ(r.path, single);
    EXPECT_EQ(r.binary, single);
    ASSERT_TRUE(r.factory);
    EXPECT_EQ(r.factory->vendor, "Solo");
    EXPECT_EQ(ScriptedRequests(scratch), (std::vector<std::string>{"vst3|" + Utf8(single), "vst3|"}));
}

TEST_F(Vst3Scan, BundlesThatCannotLoadNeverReachAServer)
{
    struct Case
    {
        std::wstring name;
        std::vector<std::wstring> files; // relative to the bundle, each made with text in it
        std::wstring copy;               // a fixture copied as the x64 binary, or none
        std::string error;
        std::vector<std::string> architectures; // the binary folders holding the bundle's name
    };
    const std::vector<Case> cases = {
        {L"Empty.vst3", {}, L"", "bundle has no x64 binary: expected Contents\\x86_64-win\\Empty.vst3", {}},
        {L"Renamed.vst3",
         {L"Contents\\x86_64-win\\Other.vst3", L"Contents\\x86_64-win\\Another.vst3"},
         L"",
         "bundle has no x64 binary: expected Contents\\x86_64-win\\Renamed.vst3; found Another.vst3 and "
         "Other.vst3, but a binary must have the bundle's name",
         {}},
        {L"Old.vst3", {L"Contents\\x86-win\\Old.vst3"}, L"",
         "bundle has no x64 binary: expected Contents\\x86_64-win\\Old.vst3; it holds only a binary for another "
         "machine: Contents\\x86-win\\Old.vst3 (x86, 32-bit)",
         {"x86-win"}},
        {L"Arm.vst3", {L"Contents\\arm64ec-win\\Arm.vst3", L"Contents\\arm64-win\\Arm.vst3"}, L"",
         "bundle has no x64 binary: expected Contents\\x86_64-win\\Arm.vst3; it holds only binaries for other "
         "machines: Contents\\arm64-win\\Arm.vst3 (arm64) and Contents\\arm64ec-win\\Arm.vst3 (arm64ec)",
         {"arm64-win", "arm64ec-win"}},
        {L"Nested.vst3", {L"Contents\\x86_64-win\\Nested.vst3\\inner.txt"}, L"",
         "bundle has no x64 binary: expected Contents\\x86_64-win\\Nested.vst3, which is a folder", {}},
        {L"Wide.vst3", {}, FixturePath(L"Client32Bit"),
         "32-bit module: built for x86; only 64-bit (x64) modules can be loaded", {"x86_64-win"}},
    };
    ModuleScanner scanner(ScriptedServer(scratch, "# nothing is answered\n"));
    for (const Case& c : cases)
    {
        std::wstring bundle = scratch / c.name;
        MakeFolder(bundle);
        for (const std::wstring& file : c.files)
        {
            std::wstring path = bundle + L"\\" + file;
            for (size_t at = bundle.size() + 1; (at = path.find(L'\\', at)) != std::wstring::npos; at++)
            {
                if (!Exists(path.substr(0, at)))
                    MakeFolder(path.substr(0, at));
            }
            WriteWholeFile(path, "text");
        }
        if (!c.copy.empty())
        {
            MakeFolder(bundle + L"\\Contents");
            MakeFolder(bundle + L"\\Contents\\x86_64-win");
            CopyTo(c.copy, bundle + L"\\Contents\\x86_64-win", c.name);
        }
        ModuleResult r = scanner.ScanModule(bundle);
        EXPECT_EQ(r.status, Status::failed) << Utf8(c.name);
        EXPECT_EQ(r.attempts, 1) << Utf8(c.name);
        EXPECT_EQ(r.error, c.error) << Utf8(c.name);
        EXPECT_EQ(r.loadProblem, c.error) << Utf8(c.name);
        EXPECT_EQ(r.binary, bundle + L"\\Contents\\x86_64-win\\" + c.name) << Utf8(c.name);
        EXPECT_EQ(r.server, "") << Utf8(c.name);
        EXPECT_TRUE(r.plugins.empty()) << Utf8(c.name);
        EXPECT_EQ(r.architectures, c.architectures) << Utf8(c.name);
    }
    EXPECT_FALSE(Exists(scratch / L"server.script.log"));
}

TEST_F(Vst3Scan, LeftOverThreadOfABundleIsBlamedOnTheBundle)
{
    // The bundle's binary is a real DLL that leaves a thread behind which
    // crashes 300 ms later; the stand-in server calls it while answering
    // the module request, so the dump names the binary. The next module (a
    // VST 2 one) waits while it crashes, and is then scanned again.
    std::wstring late;
    std::wstring lateBundle = MakeBundle(scratch, L"Late.vst3", &late);
    CopyTo(FixturePath(L"ClientLateCrash"), lateBundle + L"\\Contents\\x86_64-win", L"Late.vst3");
    std::wstring next = scratch / L"Next.dll";
    const std::string script = "= vst3|BINARY\n"
                               "!call BINARY\n"
                               ">:{\n"
                               ">:  \"format\": \"vst3\",\n"
                               ">:  \"error\": \"\",\n"
                               ">:  \"phase\": \"\",\n"
                               ">:  \"initDll\": false,\n"
                               ">:  \"exitDll\": false,\n"
                               ">:  \"factory\": {\"vendor\": \"\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n"
                               ">:  \"classCount\": 1,\n"
                               ">:  \"classes\": [\n"
                               ">:    {\"index\": 0, \"cid\": \"" + ControllerId + "\", \"category\": \"Component Controller Class\", \"name\": \"Late\", \"cardinality\": 2147483647, \"infoLevel\": 1, \"classFlags\": 0, \"subCategories\": \"\", \"vendor\": \"\", \"version\": \"\", \"sdkVersion\": \"\"}\n"
                               ">:  ]\n"
                               ">:}\n"
                               "= vst2|" + Utf8(next) + "\n"
                               "!sleep 60000\n"
                               "= vst2|" + Utf8(next) + "\n"
                               ">:{\n"
                               ">:  \"id\":        \"4E657874\",\n"
                               ">:  \"name\":      \"Next\",\n"
                               ">:  \"vendor\":    \"\",\n"
                               ">:  \"product\":   \"\",\n"
                               ">:  \"version\":   \"\",\n"
                               ">:  \"error\":     \"\",\n"
                               ">:  \"numInputs\": 2,\n"
                               ">:  \"numOutputs\":2,\n"
                               ">:  \"wantsMidi\":  false,\n"
                               ">:  \"sendsMidi\": false,\n"
                               ">:  \"platform\":  \"x64\",\n"
                               ">:  \"audio64\":   false,\n"
                               ">:  \"category\":  1,\n"
                               ">:  \"synthEdit\": false,\n"
                               ">:}\n";
    ModuleScanner scanner(ScriptedServer(scratch, script, late, 90000));
    std::vector<Blame> blamed;
    ScanCallbacks callbacks;
    callbacks.onBlame = [&](const Blame& b) { blamed.push_back(b); };
    ModuleResult first = scanner.ScanModule(lateBundle, callbacks);
    EXPECT_EQ(first.status, Status::ok) << first.error;
    ModuleResult second = scanner.ScanModule(next, callbacks);
    ASSERT_EQ(blamed.size(), 1u);
    EXPECT_EQ(blamed[0].path, lateBundle);
    EXPECT_EQ(blamed[0].crash.faultingModule, Utf8(late));
    EXPECT_EQ(blamed[0].crash.exceptionCode, 0xC0000005u);
    EXPECT_TRUE(blamed[0].crash.leftOverThread);
    EXPECT_EQ(second.status, Status::ok) << second.error;
    EXPECT_EQ(second.format, PluginFormat::vst2);
    EXPECT_EQ(second.attempts, 1);
    EXPECT_FALSE(second.crash);
}

// A module's clean-up runs in a request of its own: a hang in ExitDll is
// that module's time-out, in that phase, and the next module scans as usual.
TEST(Vst3Cleanup, HangInExitDllIsTheModulesOwnTimeoutAndTheNextModuleIsOk)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch, 3000));
    ModuleResult hang = scanner.ScanModule(BinPath(L"vst3\\Vst3HangExitDll.vst3"));
    EXPECT_EQ(hang.status, Status::timeout);
    EXPECT_EQ(hang.phase, "ExitDll");
    EXPECT_EQ(hang.error, "while being freed: no answer within 3000 ms");
    ASSERT_EQ(hang.plugins.size(), 1u);
    EXPECT_EQ(hang.plugins[0].status, Status::ok);

    ModuleResult next = scanner.ScanModule(BinPath(L"vst3\\Vst3Effect.vst3"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
    EXPECT_EQ(next.attempts, 1);
}

// Crashes in the guarded clean-up steps are survived and written down as
// findings; the server is then ended, so no later request inherits what the
// crashes broke.
TEST(Vst3Cleanup, SurvivedCrashesAreFindingsAndTheServerIsReplaced)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(BinPath(L"vst3\\Vst3CrashCleanup.vst3"));
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.findings,
              (std::vector<std::string>{
                  "class 484F5354494C45000000000000000009: crashed in terminate (C0000005); the server survived it",
                  "class 484F5354494C45000000000000000009: crashed in release (C0000005); the server survived it",
                  "crashed in factory release (C0000005); the server survived it",
                  "crashed in ExitDll (C0000005); the server survived it"}));
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_EQ(r.plugins[0].status, Status::ok);
}
