// The bundled samples, scanned the way the demo scans them: each DLL, then
// each sub-plugin of the shell against the cached shell module; and the
// same scans in the "vst2|" form, whose blocks say whether the plugin has
// an editor (the sample effect and the shell's chorus have one).
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanSamples : public ScanTest
{
};

const std::string Version = CallbackLine(1, "audioMasterVersion");
const std::string CurrentId = CallbackLine(2, "audioMasterCurrentId");

const std::string EffectBlock =
    ">:{\n"
    ">:  \"id\":        \"536D4566\",\n"
    ">:  \"name\":      \"Sample Effect\",\n"
    ">:  \"vendor\":    \"Zandrel Software\",\n"
    ">:  \"product\":   \"Orvanta Samples\",\n"
    ">:  \"version\":   \"1.1.0.0\",\n"
    ">:  \"error\":     \"\",\n"
    ">:  \"numInputs\": 2,\n"
    ">:  \"numOutputs\":2,\n"
    ">:  \"wantsMidi\":  false,\n"
    ">:  \"sendsMidi\": false,\n"
    + PlatformLine() +
    ">:  \"audio64\":   true,\n"
    ">:  \"category\":  1,\n"
    ">:  \"synthEdit\": false,\n"
    ">:}\n";

const std::string SynthBlock =
    ">:{\n"
    ">:  \"id\":        \"536D5379\",\n"
    ">:  \"name\":      \"Sample Synth\",\n"
    ">:  \"vendor\":    \"Zandrel Software\",\n"
    ">:  \"product\":   \"Orvanta Samples\",\n"
    ">:  \"version\":   \"1.0.0.0\",\n"
    ">:  \"error\":     \"\",\n"
    ">:  \"numInputs\": 0,\n"
    ">:  \"numOutputs\":2,\n"
    ">:  \"wantsMidi\":  true,\n"
    ">:  \"sendsMidi\": false,\n"
    + PlatformLine() +
    ">:  \"audio64\":   false,\n"
    ">:  \"category\":  2,\n"
    ">:  \"synthEdit\": false,\n"
    ">:}\n";

const std::string ShellBlock =
    ">:{\n"
    ">:  \"id\":        \"536D5368\",\n"
    ">:  \"name\":      \"Sample Shell\",\n"
    ">:  \"vendor\":    \"Zandrel Software\",\n"
    ">:  \"product\":   \"Orvanta Samples\",\n"
    ">:  \"version\":   \"1.0.0.0\",\n"
    ">:  \"error\":     \"\",\n"
    ">:  \"numInputs\": 0,\n"
    ">:  \"numOutputs\":0,\n"
    ">:  \"wantsMidi\":  false,\n"
    ">:  \"sendsMidi\": false,\n"
    + PlatformLine() +
    ">:  \"audio64\":   false,\n"
    ">:  \"category\":  10,\n"
    ">:  \"synthEdit\": false,\n"
    ">:  \"shells\": {\n"
    ">:        \"53480001\": \"Sample Shell Chorus\",\n"
    ">:        \"53480002\": \"Sample Shell Delay\",\n"
    ">:  },\n"
    ">:}\n";

const std::string ChorusBlock =
    ">:{\n"
    ">:  \"id\":        \"53480001\",\n"
    ">:  \"name\":      \"Sample Shell Chorus\",\n"
    ">:  \"vendor\":    \"Zandrel Software\",\n"
    ">:  \"product\":   \"Orvanta Samples\",\n"
    ">:  \"version\":   \"1.0.0.0\",\n"
    ">:  \"error\":     \"\",\n"
    ">:  \"numInputs\": 2,\n"
    ">:  \"numOutputs\":2,\n"
    ">:  \"wantsMidi\":  false,\n"
    ">:  \"sendsMidi\": false,\n"
    + PlatformLine() +
    ">:  \"audio64\":   false,\n"
    ">:  \"category\":  1,\n"
    ">:  \"synthEdit\": false,\n"
    ">:}\n";

const std::string DelayBlock =
    ">:{\n"
    ">:  \"id\":        \"53480002\",\n"
    ">:  \"name\":      \"Sample Shell Delay\",\n"
    ">:  \"vendor\":    \"Zandrel Software\",\n"
    ">:  \"product\":   \"Orvanta Samples\",\n"
    ">:  \"version\":   \"1.0.0.0\",\n"
    ">:  \"error\":     \"\",\n"
    ">:  \"numInputs\": 2,\n"
    ">:  \"numOutputs\":2,\n"
    ">:  \"wantsMidi\":  false,\n"
    ">:  \"sendsMidi\": false,\n"
    + PlatformLine() +
    ">:  \"audio64\":   false,\n"
    ">:  \"category\":  1,\n"
    ">:  \"synthEdit\": false,\n"
    ">:}\n";

TEST_F(ScanSamples, EffectSynthAndShellWithItsSubPlugins)
{
    std::string samples = Utf8(FixtureBinPath(L"samples\\"));
    const std::string entry = EntryLines(ModulePlaceholder);

    std::string effect = samples + "SampleEffect.dll";
    std::string answer = MaskModuleHandles(Scan(effect));
    EXPECT_EQ(answer, LoadLines(effect) + entry + Version + CloseAndFreeLines() + EffectBlock + Ready);

    std::string synth = samples + "SampleSynth.dll";
    answer = MaskModuleHandles(Scan(synth));
    EXPECT_EQ(answer, LoadLines(synth) + entry + Version + CloseAndFreeLines() + SynthBlock + Ready);

    std::string shell = samples + "SampleShell.dll";
    std::string shellAnswer = Scan(shell);
    answer = MaskModuleHandles(shellAnswer);
    EXPECT_EQ(answer, LoadLines(shell) + entry + Version + CurrentId +
                          "info:Found shell: 53480001 - Sample Shell Chorus\n"
                          "info:Found shell: 53480002 - Sample Shell Delay\n" +
                          CloseAndKeepLines() + ShellBlock + Ready);

    std::string chorusAnswer = Scan(shell + ">53480001");
    EXPECT_EQ(MaskModuleHandles(chorusAnswer), ReuseLines(shell + ">53480001") + entry + Version + CurrentId +
                                                   CloseAndKeepLines() + ChorusBlock + Ready);
    std::string delayAnswer = Scan(shell + ">53480002");
    EXPECT_EQ(MaskModuleHandles(delayAnswer), ReuseLines(shell + ">53480002") + entry + Version + CurrentId +
                                                  CloseAndKeepLines() + DelayBlock + Ready);

    // One module throughout: the same handle in all three answers.
    const std::string looking = "info:Looking for entry point in module ";
    size_t at = shellAnswer.find(looking);
    ASSERT_NE(at, std::string::npos);
    std::string handleLine = shellAnswer.substr(at, looking.size() + 17);
    EXPECT_NE(chorusAnswer.find(handleLine), std::string::npos);
    EXPECT_NE(delayAnswer.find(handleLine), std::string::npos);

    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "info:Freeing cached library...\ninfo:Freed\n");
    EXPECT_EQ(server.WaitExit(), 0u);
}

// ------------------------------------------------------- the editor form

// Every line as for the plain request, the request logged as received.
TEST_F(ScanSamples, EditorFormReportsAnEditor)
{
    std::string effect = "vst2|" + Utf8(SamplePath(L"SampleEffect"));
    EXPECT_EQ(MaskModuleHandles(Scan(effect)), LoadLines(effect) + EntryLines(ModulePlaceholder) + Version +
                                                   CloseAndFreeLines() +
                                                   ">:{\n"
                                                   ">:  \"id\":        \"536D4566\",\n"
                                                   ">:  \"name\":      \"Sample Effect\",\n"
                                                   ">:  \"vendor\":    \"Zandrel Software\",\n"
                                                   ">:  \"product\":   \"Orvanta Samples\",\n"
                                                   ">:  \"version\":   \"1.1.0.0\",\n"
                                                   ">:  \"error\":     \"\",\n"
                                                   ">:  \"numInputs\": 2,\n"
                                                   ">:  \"numOutputs\":2,\n"
                                                   ">:  \"wantsMidi\":  false,\n"
                                                   ">:  \"sendsMidi\": false,\n"
                                                   + PlatformLine() +
                                                   ">:  \"audio64\":   true,\n"
                                                   ">:  \"category\":  1,\n"
                                                   ">:  \"synthEdit\": false,\n"
                                                   ">:  \"hasEditor\": true,\n"
                                                   ">:}\n" +
                                                   Ready);
}

// The member stands after synthEdit whatever the block: without the flag,
// before a shell's sub-plugins, for a sub-plugin of a shell that a plain
// request loaded (the cache is keyed by the path alone), and for a module
// that never loaded.
TEST_F(ScanSamples, EditorFormPutsHasEditorAfterSynthEditInEveryBlock)
{
    std::string shell = Utf8(SamplePath(L"SampleShell"));
    Scan(shell);
    const struct
    {
        std::string request, after;
    } rows[] = {
        {"vst2|" + shell + ">53480001", ">:  \"hasEditor\": true,\n>:}\n"},
        {"vst2|" + shell, ">:  \"hasEditor\": false,\n>:  \"shells\": {\n"},
        {"vst2|" + Utf8(SamplePath(L"SampleSynth")), ">:  \"hasEditor\": false,\n>:}\n"},
        {"vst2|" + Utf8(SamplePath(L"NoSuchSample")), ">:  \"hasEditor\": false,\n>:}\n"},
    };
    for (const auto& row : rows)
    {
        std::string answer = Scan(row.request);
        EXPECT_NE(answer.find(">:  \"synthEdit\": false,\n" + row.after), std::string::npos) << answer;
        // The first, a sub-plugin, re-uses the shell the plain request loaded.
        if (&row == &rows[0])
        {
            EXPECT_EQ(answer.rfind(ReuseLines(row.request), 0), 0u) << answer;
        }
    }
}

} // namespace
