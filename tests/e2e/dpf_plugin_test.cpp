// A real plugin framework's VST 2 code through the real server: the DPF
// gain fixture (tests/plugins/dpf), whose report must say what its source
// declares in DistrhoPluginInfo.h and DpfGain.cpp.
#include "scan_support.h"

using namespace testsupport;

namespace {

class DpfPlugin : public ScanTest
{
};

} // namespace

TEST_F(DpfPlugin, Vst2ReportSaysWhatTheSourceDeclares)
{
    std::wstring dll = FixtureBinPath(L"dpf\\DpfGain-vst.dll");
    ASSERT_TRUE(Exists(dll)) << "the DPF fixture was not built";
    std::string answer = MaskModuleHandles(Scan(dll));

    // Name, maker and label; d_version(1, 2, 3); d_cconst('O', 'd', 'G',
    // 'n'); two inputs and outputs; no 64-bit processing; an effect. DPF
    // answers every capability with 0 until effOpen, which the server never
    // sends: not -1, so both MIDI members are true (MIDI in is declared).
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(ModulePlaceholder) + CallbackLine(1, "audioMasterVersion") +
                          CloseAndFreeLines() +
                          ">:{\n"
                          ">:  \"id\":        \"4F64476E\",\n"
                          ">:  \"name\":      \"Orvanta DPF Gain\",\n"
                          ">:  \"vendor\":    \"Zandrel Software\",\n"
                          ">:  \"product\":   \"OrvantaDpfGain\",\n"
                          ">:  \"version\":   \"1.2.3.0\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": 2,\n"
                          ">:  \"numOutputs\":2,\n"
                          ">:  \"wantsMidi\":  true,\n"
                          ">:  \"sendsMidi\": true,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n" +
                          Ready);
}
