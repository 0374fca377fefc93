// The bundled samples, scanned the way the demo scans them: each DLL, then
// each sub-plugin of the shell against the cached shell module.
#include "scan_support.h"

namespace {

class ScanSamples : public ScanTest
{
};

const std::string Version = CallbackLine(1, "audioMasterVersion");
const std::string CurrentId = CallbackLine(2, "audioMasterCurrentId");

Report Sample(uint32_t id, const char* name, const char* version, int inputs, int outputs, int category)
{
    Report r;
    r.id = id;
    r.name = name;
    r.vendor = "Zandrel Software";
    r.product = "Orvanta Samples";
    r.version = version;
    r.numInputs = inputs;
    r.numOutputs = outputs;
    r.category = category;
    return r;
}

TEST_F(ScanSamples, EffectSynthAndShellWithItsSubPlugins)
{
    std::string samples = Utf8(ExeFolder()) + "samples\\";
    const std::string entry = EntryLines("HANDLE");

    std::string effect = samples + "SampleEffect.dll";
    Report effectReport = Sample(0x536D4566, "Sample Effect", "1.1.0.0", 2, 2, 1);
    effectReport.audio64 = true;
    std::string answer = MaskModuleHandles(Scan(effect));
    EXPECT_EQ(answer, LoadLines(effect) + entry + Version + CloseAndFreeLines() + ReportBlock(effectReport) + Ready);

    std::string synth = samples + "SampleSynth.dll";
    Report synthReport = Sample(0x536D5379, "Sample Synth", "1.0.0.0", 0, 2, 2);
    synthReport.wantsMidi = true;
    answer = MaskModuleHandles(Scan(synth));
    EXPECT_EQ(answer, LoadLines(synth) + entry + Version + CloseAndFreeLines() + ReportBlock(synthReport) + Ready);

    std::string shell = samples + "SampleShell.dll";
    Report shellReport = Sample(0x536D5368, "Sample Shell", "1.0.0.0", 0, 0, 10);
    shellReport.shells = {{0x53480001, "Sample Shell Chorus"}, {0x53480002, "Sample Shell Delay"}};
    std::string shellAnswer = Scan(shell);
    answer = MaskModuleHandles(shellAnswer);
    EXPECT_EQ(answer, LoadLines(shell) + entry + Version + CurrentId +
                          Info("Found shell: 53480001 - Sample Shell Chorus") +
                          Info("Found shell: 53480002 - Sample Shell Delay") + CloseAndKeepLines() +
                          ReportBlock(shellReport) + Ready);

    Report chorus = Sample(0x53480001, "Sample Shell Chorus", "1.0.0.0", 2, 2, 1);
    std::string chorusAnswer = Scan(shell + ">53480001");
    EXPECT_EQ(MaskModuleHandles(chorusAnswer), ReuseLines(shell + ">53480001") + entry + Version + CurrentId +
                                                   CloseAndKeepLines() + ReportBlock(chorus) + Ready);
    Report delay = Sample(0x53480002, "Sample Shell Delay", "1.0.0.0", 2, 2, 1);
    std::string delayAnswer = Scan(shell + ">53480002");
    EXPECT_EQ(MaskModuleHandles(delayAnswer), ReuseLines(shell + ">53480002") + entry + Version + CurrentId +
                                                  CloseAndKeepLines() + ReportBlock(delay) + Ready);

    // One module throughout: the same handle in all three answers.
    const std::string looking = "info:Looking for entry point in module ";
    size_t at = shellAnswer.find(looking);
    ASSERT_NE(at, std::string::npos);
    std::string handleLine = shellAnswer.substr(at, looking.size() + 17);
    EXPECT_NE(chorusAnswer.find(handleLine), std::string::npos);
    EXPECT_NE(delayAnswer.find(handleLine), std::string::npos);

    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), Info("Freeing cached library...") + Info("Freed"));
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
