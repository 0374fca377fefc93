// CLAP modules through ModuleScanner, answered by the stand-in server from
// scripts written as the server's CLAP exchange gives them: the module
// request, one request per plugin listed, the free request last; each
// plugin's crash, hang or failure recorded on that plugin alone with the
// step it happened in; what the scan notices as findings; and the links a
// plugin declares to other formats.
#include "../../client_support.h"
#include "scratch_folder.h"
#include "server_script.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>

using namespace clienttest;
using namespace testsupport;
using namespace orvanta;

namespace {

using namespace testsupport::clapanswers;

// The start of a module answer whose block lists the given plugin lines
// (each a whole ">:    {...}" line) and no converters.
std::string ModuleListing(int pluginCount, const std::vector<std::string>& plugins)
{
    std::string answer = "= clap|BINARY\n"
                         "info:Scanning CLAP module: 'clap|BINARY'\n"
                         "info:Phase: load\n"
                         "info:Finished\n"
                         ">:{\n"
                         ">:  \"format\": \"clap\",\n"
                         ">:  \"error\": \"\",\n"
                         ">:  \"phase\": \"\",\n"
                         ">:  \"clapVersion\": \"1.2.2\",\n"
                         ">:  \"pluginCount\": " + std::to_string(pluginCount) + ",\n"
                         ">:  \"plugins\": [\n";
    for (size_t i = 0; i < plugins.size(); i++)
        answer += plugins[i] + (i + 1 < plugins.size() ? ",\n" : "\n");
    return answer + ">:  ],\n"
                    ">:  \"converters\": []\n"
                    ">:}\n";
}

// A descriptor line of a module block.
std::string Descriptor(int index, const std::string& id, const std::string& cut = "")
{
    return ">:    {\"index\": " + std::to_string(index) + ", \"problem\": \"\", \"id\": \"" + id +
           "\", \"name\": \"N\", \"vendor\": \"\", \"url\": \"\", \"manualUrl\": \"\", \"supportUrl\": \"\", "
           "\"version\": \"\", \"description\": \"\", \"features\": [], \"clapVersion\": \"1.2.2\", \"cut\": [" +
           cut + "], \"vst3\": \"\"}";
}

class ClapScan : public ::testing::Test
{
protected:
    ScratchFolder scratch;
    // Text, not a PE image, so it goes to the server as it is.
    std::wstring module = scratch.Write(L"Zandrel.CLAP", "the stand-in server loads nothing");
    std::string path = Utf8(module);
    std::string ModuleRequest() const { return "clap|" + path; }
    std::string PluginRequest(const std::string& id) const { return "clap|" + path + ">" + id; }
    ModuleResult Scan(const std::string& script, uint32_t timeoutMs = 60000)
    {
        ModuleScanner scanner(ScriptedServer(scratch, script, module, timeoutMs));
        return scanner.ScanModule(module);
    }
};

} // namespace

TEST_F(ClapScan, EachListedPluginIsRequestedOnItsOwnAndTheModuleFreedLast)
{
    ModuleResult r = Scan(Module + Gain + Synth);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.format, PluginFormat::clap);
    EXPECT_EQ(r.binary, module);
    EXPECT_EQ(r.clapVersion, "1.2.2");
    EXPECT_EQ(r.pluginCount, 3);
    EXPECT_EQ(r.findings, std::vector<std::string>{"plugin 1: no id; skipped"});
    ASSERT_EQ(r.plugins.size(), 2u);
    const std::vector<std::string> both = {"descriptor", "instance"};
    for (const PluginEntry& p : r.plugins)
    {
        SCOPED_TRACE(p.clap->id);
        EXPECT_EQ(p.status, Status::ok);
        EXPECT_EQ(p.attempts, 1);
        EXPECT_EQ(p.clap->sources, both);
        ASSERT_TRUE(p.clap->ports);
        EXPECT_EQ(p.clap->ports->audioOutputs, 2);
    }
    EXPECT_EQ(r.plugins[0].clap->url, "https://example.com");
    EXPECT_EQ(r.plugins[1].clap->ports->noteInputPorts, 1);
    ASSERT_EQ(r.plugins[1].clap->ports->noteInputs.size(), 1u);
    EXPECT_EQ(r.plugins[1].clap->ports->noteInputs[0].dialects, 3u);
    EXPECT_EQ(ScriptedRequests(scratch), (std::vector<std::string>{ModuleRequest(), PluginRequest(GainId),
                                                                    PluginRequest(SynthId), "clap|"}));
}

TEST_F(ClapScan, DeclaredLinksComeFromThePluginsVst3InfoAndTheConvertersToIt)
{
    ModuleResult r = Scan(Module + Gain + Synth);
    ASSERT_EQ(r.plugins.size(), 2u);
    auto links = [](const PluginEntry& p) {
        std::vector<std::string> texts;
        for (const FormatLink& l : p.replaces)
            texts.push_back(std::string(FormatName(l.format)) + " " + l.id + " " + l.declaredBy);
        return texts;
    };
    EXPECT_EQ(links(r.plugins[0]),
              (std::vector<std::string>{
                  "vst3 5653544753616D706C65476169700000 clap.plugin-factory-info-as-vst3.draft0",
                  "vst2 5A45556E clap.plugin-state-converter-factory/1"}));
    EXPECT_EQ(links(r.plugins[1]),
              (std::vector<std::string>{
                  "vst3 56535453616D706C6553796E74680000 clap.plugin-state-converter-factory/1",
                  "clap com.zandrel.oldsynth clap.plugin-state-converter-factory/1",
                  "vst2 FFFFFFFF clap.plugin-state-converter-factory/1"}));
}

TEST_F(ClapScan, CrashInOnePluginIsRetriedInAFreshServerAndRecordedOnThatPluginAlone)
{
    struct Row
    {
        const char* name;
        std::string gainAnswers;
        Status status;
        std::string phase, error;
    };
    const std::string crash = GainCrashIn("audio ports");
    const Row rows[] = {
        {"once", crash + Gain, Status::ok, "", ""},
        {"twice", crash + crash, Status::crashed, "audio ports", "crashed during the request (no dump file found)"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        ModuleResult r = Scan(Module + row.gainAnswers + Synth);
        EXPECT_EQ(r.status, Status::ok) << r.error;
        EXPECT_FALSE(r.crash);
        ASSERT_EQ(r.plugins.size(), 2u);
        const PluginEntry& gain = r.plugins[0];
        EXPECT_EQ(gain.status, row.status);
        EXPECT_EQ(gain.attempts, 2);
        EXPECT_EQ(gain.phase, row.phase);
        EXPECT_EQ(gain.error, row.error);
        EXPECT_EQ(gain.clap->ports.has_value(), row.status == Status::ok);
        EXPECT_EQ(gain.clap->name, "Zandrel Gain");
        EXPECT_EQ(r.plugins[1].status, Status::ok);
        EXPECT_EQ(r.plugins[1].attempts, 1);
        // The plugin request loads the module itself in the fresh server.
        EXPECT_EQ(ScriptedRequests(scratch),
                  (std::vector<std::string>{ModuleRequest(), PluginRequest(GainId), PluginRequest(GainId),
                                            PluginRequest(SynthId), "clap|"}));
        DeleteFileW((scratch / L"server.script.log").c_str());
    }
}

TEST_F(ClapScan, HangInPluginInitIsATimeoutOfThatPluginNotRetried)
{
    std::string hang = "= clap|BINARY>" + GainId + "\n"
                       "info:Scanning CLAP plugin: 'clap|BINARY>" + GainId + "'\n"
                       "info:Re-using previous library instance...\n"
                       "info:Phase: create_plugin\n"
                       "info:Phase: plugin init\n"
                       "!hang\n";
    ModuleResult r = Scan(Module + hang + Synth, 3000);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 2u);
    EXPECT_EQ(r.plugins[0].status, Status::timeout);
    EXPECT_EQ(r.plugins[0].attempts, 1);
    EXPECT_EQ(r.plugins[0].phase, "plugin init");
    EXPECT_EQ(r.plugins[0].error, "no answer within 3000 ms");
    EXPECT_EQ(r.plugins[1].status, Status::ok);
    EXPECT_EQ(ScriptedRequests(scratch), (std::vector<std::string>{ModuleRequest(), PluginRequest(GainId),
                                                                    PluginRequest(SynthId), "clap|"}));
}

TEST_F(ClapScan, CrashSurvivedInDestroyIsAFindingAndTheNextPluginGetsAFreshServer)
{
    std::string survived = Gain;
    survived.replace(survived.find("info:Phase: destroy\n"), 20,
                     "info:Phase: destroy\nwarn:Crash in destroy (C0000005), ignored\n");
    ModuleResult r = Scan(Module + survived + Synth);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.findings, (std::vector<std::string>{
                              "plugin 1: no id; skipped",
                              "plugin com.zandrel.gain: crashed in destroy (C0000005); the server survived it"}));
    ASSERT_EQ(r.plugins.size(), 2u);
    EXPECT_EQ(r.plugins[0].status, Status::ok);
    EXPECT_EQ(r.plugins[1].status, Status::ok);
    EXPECT_EQ(ScriptedRequests(scratch),
              (std::vector<std::string>{ModuleRequest(), PluginRequest(GainId), "clap|", PluginRequest(SynthId),
                                        "clap|"}));
}

TEST_F(ClapScan, FailedPluginKeepsTheReportsErrorAndPhase)
{
    std::string failed = "= clap|BINARY>" + GainId + "\n"
                         "info:Scanning CLAP plugin: 'clap|BINARY>" + GainId + "'\n"
                         "info:Re-using previous library instance...\n"
                         "info:Phase: create_plugin\n"
                         "info:Phase: plugin init\n"
                         "error:plugin init returned false\n"
                         "info:Finished\n"
                         ">:{\n"
                         ">:  \"format\": \"clap\",\n"
                         ">:  \"id\": \"com.zandrel.gain\",\n"
                         ">:  \"error\": \"plugin init returned false\",\n"
                         ">:  \"phase\": \"plugin init\",\n"
                         ">:  \"audioInputPorts\": 0,\n"
                         ">:  \"audioOutputPorts\": 0,\n"
                         ">:  \"audioInputs\": 0,\n"
                         ">:  \"audioOutputs\": 0,\n"
                         ">:  \"noteInputPorts\": 0,\n"
                         ">:  \"noteOutputPorts\": 0,\n"
                         ">:  \"ports\": []\n"
                         ">:}\n";
    ModuleResult r = Scan(Module + failed + Synth);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 2u);
    EXPECT_EQ(r.plugins[0].status, Status::failed);
    EXPECT_EQ(r.plugins[0].error, "plugin init returned false");
    EXPECT_EQ(r.plugins[0].phase, "plugin init");
    EXPECT_FALSE(r.plugins[0].clap->ports);
    EXPECT_EQ(r.plugins[0].clap->sources, std::vector<std::string>{"descriptor"});
    EXPECT_EQ(r.plugins[1].status, Status::ok);
}

TEST_F(ClapScan, IdsThatCannotBeRequestedFailWithoutARequestAndRepeatsAreScannedOnce)
{
    // An ID listed twice (one entry, one finding), and one holding a control
    // character (U+0001).
    ModuleResult r = Scan(ModuleListing(3, {Descriptor(0, GainId), Descriptor(1, "com.zandrel.\\u0001bad"),
                                            Descriptor(2, GainId)}) +
                          Gain);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 2u);
    EXPECT_EQ(r.plugins[0].status, Status::ok);
    EXPECT_EQ(r.plugins[1].status, Status::failed);
    EXPECT_EQ(r.plugins[1].error, "the plugin ID holds a control character, so it cannot be requested");
    EXPECT_EQ(r.findings, std::vector<std::string>{"plugin com.zandrel.gain: listed 2 times by the factory; scanned once"});
    EXPECT_EQ(ScriptedRequests(scratch), (std::vector<std::string>{ModuleRequest(), PluginRequest(GainId), "clap|"}));
}

TEST_F(ClapScan, CountAboveTheListedAndTextsCutAreFindings)
{
    ModuleResult r = Scan(ModuleListing(1000000, {Descriptor(0, GainId, "\"description\", \"features\"")}) + Gain);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.pluginCount, 1000000);
    EXPECT_EQ(r.findings,
              (std::vector<std::string>{"plugin com.zandrel.gain: description, features cut at the server's bound",
                                        "the factory says it has 1000000 plugins; the first 1 were read"}));
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_EQ(r.plugins[0].clap->cut, (std::vector<std::string>{"description", "features"}));
}

TEST_F(ClapScan, FactoryWithoutAPluginToRequestFailsTheModuleAndFreesIt)
{
    ModuleResult r = Scan(ModuleListing(0, {}));
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "the factory lists no plugins");
    EXPECT_TRUE(r.plugins.empty());
    EXPECT_EQ(ScriptedRequests(scratch), (std::vector<std::string>{ModuleRequest(), "clap|"}));
}

TEST_F(ClapScan, ModuleFailingOnItsWayInKeepsItsPhaseAndIsNotFreedAgain)
{
    const std::string failed = "= clap|BINARY\n"
                               "info:Scanning CLAP module: 'clap|BINARY'\n"
                               "info:Phase: load\n"
                               "info:Phase: clap_entry\n"
                               "info:Phase: init\n"
                               "error:init returned false\n"
                               "info:Freeing library...\n"
                               "info:Finished\n"
                               ">:{\n"
                               ">:  \"format\": \"clap\",\n"
                               ">:  \"error\": \"init returned false\",\n"
                               ">:  \"phase\": \"init\",\n"
                               ">:  \"clapVersion\": \"1.2.2\",\n"
                               ">:  \"pluginCount\": 0,\n"
                               ">:  \"plugins\": [],\n"
                               ">:  \"converters\": []\n"
                               ">:}\n";
    ModuleResult r = Scan(failed);
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.error, "init returned false");
    EXPECT_EQ(r.phase, "init");
    EXPECT_EQ(r.clapVersion, "1.2.2");
    EXPECT_TRUE(r.plugins.empty());
    EXPECT_EQ(ScriptedRequests(scratch), std::vector<std::string>{ModuleRequest()});
}

TEST_F(ClapScan, AnswerForAnotherPluginIsOutOfStepAndLost)
{
    std::string wrong = Synth;
    wrong.replace(0, wrong.find('\n'), "= clap|BINARY>" + GainId);
    ModuleResult r = Scan(Module + wrong + Synth);
    ASSERT_EQ(r.plugins.size(), 2u);
    EXPECT_EQ(r.plugins[0].status, Status::lost);
    EXPECT_EQ(r.plugins[0].error, "answer for plugin 'com.zandrel.synth' to a request for plugin 'com.zandrel.gain'");
    EXPECT_EQ(r.plugins[1].status, Status::ok);
}
