// The MIDI rules: which canDo texts the server asks, in which order, when
// it stops asking, and how audioMasterWantMidi counts, all on one server
// so that the flag of one plugin must not leak into the next.
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanMidi : public ScanTest
{
};

const char* const RVME = "disp 51 receiveVstMidiEvent\n";
const char* const RVE = "disp 51 receiveVstEvents\n";
const char* const SVME = "disp 51 sendVstMidiEvent\n";
const char* const SVE = "disp 51 sendVstEvents\n";

std::string Repeat(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; i++)
        out += text;
    return out;
}

TEST_F(ScanMidi, CanDoAnswersAndWantMidi)
{
    const std::string wantMidiLine = CallbackLine(6, "audioMasterWantMidi");
    struct Case
    {
        const char* label;
        const char* config;
        const char* wants; // the two report lines' values
        const char* sends;
        std::string queries;
        int callsBack; // audioMasterWantMidi lines
    } cases[] = {
        {"NothingAnswered", "", "false", "false", std::string(RVME) + RVE + SVME + SVE, 0},
        {"ZeroToAll", "cando=0\n", "true", "true", std::string(RVME) + SVME, 0},
        {"ReceiveMidiEvent", "cando.receiveVstMidiEvent=1\n", "true", "false", std::string(RVME) + SVME + SVE, 0},
        {"ReceiveMidiEventTwo", "cando.receiveVstMidiEvent=2\n", "true", "false", std::string(RVME) + SVME + SVE, 0},
        {"ReceiveMidiEventMinusTwo", "cando.receiveVstMidiEvent=-2\n", "true", "false", std::string(RVME) + SVME + SVE, 0},
        {"ReceiveEvents", "cando.receiveVstEvents=1\n", "true", "false", std::string(RVME) + RVE + SVME + SVE, 0},
        {"ReceiveEventsZero", "cando.receiveVstEvents=0\n", "true", "false", std::string(RVME) + RVE + SVME + SVE, 0},
        {"SendMidiEvent", "cando.sendVstMidiEvent=1\n", "false", "true", std::string(RVME) + RVE + SVME, 0},
        {"SendEvents", "cando.sendVstEvents=1\n", "false", "true", std::string(RVME) + RVE + SVME + SVE, 0},
        {"SendEventsZero", "cando.sendVstEvents=0\n", "false", "true", std::string(RVME) + RVE + SVME + SVE, 0},
        {"Both", "cando.receiveVstMidiEvent=1\ncando.sendVstMidiEvent=1\n", "true", "true", std::string(RVME) + SVME, 0},
        {"WantMidiInEntryPoint", "wantmidi=entry\n", "true", "false", std::string(RVME) + RVE + SVME + SVE, 1},
        // The flag is cleared before each entry point call.
        {"NextPluginStartsClear", "", "false", "false", std::string(RVME) + RVE + SVME + SVE, 0},
        {"WantMidiWhileNamed", "wantmidi=45\n", "true", "false", std::string(RVME) + RVE + SVME + SVE, 1},
        // Still in time while the plugin is asked whether it takes MIDI (it
        // calls back at each of the four queries).
        {"WantMidiWhileAskedForMidi", "wantmidi=51\n", "true", "false", std::string(RVME) + RVE + SVME + SVE, 4},
        {"WantMidiWithAnswerZero", "wantmidi=entry\ncando.receiveVstMidiEvent=0\n", "true", "false", std::string(RVME) + SVME + SVE, 1},
        // Asked for its version after the MIDI decision: too late to count.
        {"WantMidiAfterTheDecision", "wantmidi=49\n", "false", "false", std::string(RVME) + RVE + SVME + SVE, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring dll = Plugin(c.label, std::string(c.config) + "category=1\ninputs=2\noutputs=2\n");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + Repeat(wantMidiLine, c.callsBack) +
                              CloseAndFreeLines() +
                              ">:{\n"
                              ">:  \"id\":        \"00000000\",\n"
                              ">:  \"name\":      \"\",\n"
                              ">:  \"vendor\":    \"\",\n"
                              ">:  \"product\":   \"\",\n"
                              ">:  \"version\":   \"\",\n"
                              ">:  \"error\":     \"\",\n"
                              ">:  \"numInputs\": 2,\n"
                              ">:  \"numOutputs\":2,\n"
                              ">:  \"wantsMidi\":  " + c.wants + ",\n"
                              ">:  \"sendsMidi\": " + c.sends + ",\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n" +
                              Ready);
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\nentry\ndisp 45\ndisp 47\ndisp 48\ndisp 35\n" +
                                   c.queries + "disp 49\ndisp 1\ndetach\n");
    }
}

} // namespace
