// The MIDI rules: which canDo texts the server asks, in which order, when
// it stops asking, and how audioMasterWantMidi counts, all on one server
// so that the flag of one plugin must not leak into the next.
#include "scan_support.h"

namespace {

class ScanMidi : public ScanTest
{
};

const char* const RVME = "disp 51 receiveVstMidiEvent\n";
const char* const RVE = "disp 51 receiveVstEvents\n";
const char* const SVME = "disp 51 sendVstMidiEvent\n";
const char* const SVE = "disp 51 sendVstEvents\n";

TEST_F(ScanMidi, CanDoAnswersAndWantMidi)
{
    const std::string wantMidiLine = CallbackLine(6, "audioMasterWantMidi");
    struct Case
    {
        const char* label;
        const char* config;
        bool wants;
        bool sends;
        std::string queries;
        bool callsBack;
    } cases[] = {
        {"NothingAnswered", "", false, false, std::string(RVME) + RVE + SVME + SVE, false},
        {"ZeroToAll", "cando=0\n", true, true, std::string(RVME) + SVME, false},
        {"ReceiveMidiEvent", "cando.receiveVstMidiEvent=1\n", true, false, std::string(RVME) + SVME + SVE, false},
        {"ReceiveMidiEventTwo", "cando.receiveVstMidiEvent=2\n", true, false, std::string(RVME) + SVME + SVE, false},
        {"ReceiveMidiEventMinusTwo", "cando.receiveVstMidiEvent=-2\n", true, false, std::string(RVME) + SVME + SVE, false},
        {"ReceiveEvents", "cando.receiveVstEvents=1\n", true, false, std::string(RVME) + RVE + SVME + SVE, false},
        {"ReceiveEventsZero", "cando.receiveVstEvents=0\n", true, false, std::string(RVME) + RVE + SVME + SVE, false},
        {"SendMidiEvent", "cando.sendVstMidiEvent=1\n", false, true, std::string(RVME) + RVE + SVME, false},
        {"SendEvents", "cando.sendVstEvents=1\n", false, true, std::string(RVME) + RVE + SVME + SVE, false},
        {"SendEventsZero", "cando.sendVstEvents=0\n", false, true, std::string(RVME) + RVE + SVME + SVE, false},
        {"Both", "cando.receiveVstMidiEvent=1\ncando.sendVstMidiEvent=1\n", true, true, std::string(RVME) + SVME, false},
        {"WantMidiInEntryPoint", "wantmidi=entry\n", true, false, std::string(RVME) + RVE + SVME + SVE, true},
        // The flag is cleared before each entry point call.
        {"NextPluginStartsClear", "", false, false, std::string(RVME) + RVE + SVME + SVE, false},
        {"WantMidiWhileNamed", "wantmidi=45\n", true, false, std::string(RVME) + RVE + SVME + SVE, true},
        {"WantMidiWithAnswerZero", "wantmidi=entry\ncando.receiveVstMidiEvent=0\n", true, false, std::string(RVME) + SVME + SVE, true},
        // Asked for its version after the MIDI decision: too late to count.
        {"WantMidiAfterTheDecision", "wantmidi=49\n", false, false, std::string(RVME) + RVE + SVME + SVE, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring dll = Plugin(c.label, std::string(c.config) + "category=1\ninputs=2\noutputs=2\n");
        std::string answer = Scan(dll);
        Report r;
        r.category = 1;
        r.numInputs = 2;
        r.numOutputs = 2;
        r.wantsMidi = c.wants;
        r.sendsMidi = c.sends;
        EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + (c.callsBack ? wantMidiLine : "") +
                              CloseAndFreeLines() + ReportBlock(r) + Ready);
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\nentry\ndisp 45\ndisp 47\ndisp 48\ndisp 35\n" +
                                   c.queries + "disp 49\ndisp 1\ndetach\n");
    }
}

} // namespace
