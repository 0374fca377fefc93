// The host callback as plugins see it: each opcode's log line and answer,
// the fixed strings and how many bytes they take, and the capability
// queries. The test plugin appends every answer it got to its name.
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanCallback : public ScanTest
{
};

// The names the server logs, opcode by opcode; 5 has none.
const char* const OpcodeNames[] = {
    "audioMasterAutomate",
    "audioMasterVersion",
    "audioMasterCurrentId",
    "audioMasterIdle",
    "audioMasterPinConnected",
    nullptr,
    "audioMasterWantMidi",
    "audioMasterGetTime",
    "audioMasterProcessEvents",
    "audioMasterSetTime",
    "audioMasterTempoAt",
    "audioMasterGetNumAutomatableParameters",
    "audioMasterGetParameterQuantization",
    "audioMasterIOChanged",
    "audioMasterNeedIdle",
    "audioMasterSizeWindow",
    "audioMasterGetSampleRate",
    "audioMasterGetBlockSize",
    "audioMasterGetInputLatency",
    "audioMasterGetOutputLatency",
    "audioMasterGetPreviousPlug",
    "audioMasterGetNextPlug",
    "audioMasterWillReplaceOrAccumulate",
    "audioMasterGetCurrentProcessLevel",
    "audioMasterGetAutomationState",
    "audioMasterOfflineStart",
    "audioMasterOfflineRead",
    "audioMasterOfflineWrite",
    "audioMasterOfflineGetCurrentPass",
    "audioMasterOfflineGetCurrentMetaPass",
    "audioMasterSetOutputSampleRate",
    "audioMasterGetOutputSpeakerArrangement",
    "audioMasterGetVendorString",
    "audioMasterGetProductString",
    "audioMasterGetVendorVersion",
    "audioMasterVendorSpecific",
    "audioMasterSetIcon",
    "audioMasterCanDo",
    "audioMasterGetLanguage",
    "audioMasterOpenWindow",
    "audioMasterCloseWindow",
    "audioMasterGetDirectory",
    "audioMasterUpdateDisplay",
    "audioMasterBeginEdit",
    "audioMasterEndEdit",
    "audioMasterOpenFileSelector",
    "audioMasterCloseFileSelector",
    "audioMasterEditFile",
    "audioMasterGetChunkFile",
    "audioMasterGetInputSpeakerArrangement",
};

std::string NameOf(int opcode)
{
    if (opcode < 0 || opcode > 49 || !OpcodeNames[opcode])
        return "<unknown>";
    return OpcodeNames[opcode];
}

// The answered opcodes and their answers; every other one gets 0 and a warn line.
bool Answered(int opcode, long long* answer)
{
    switch (opcode)
    {
    case 0: *answer = 0; return true;
    case 1: *answer = 2400; return true;
    case 2: *answer = 0; return true; // a request without an ID
    case 6: *answer = 0; return true;
    case 14: *answer = 1; return true;
    case 16: *answer = 44100; return true;
    case 17: *answer = 512; return true;
    case 23: *answer = 4; return true;
    case 32: *answer = 1; return true;
    case 33: *answer = 1; return true;
    case 34: *answer = 3; return true;
    default: *answer = 0; return false;
    }
}

TEST_F(ScanCallback, EveryOpcodeIsLoggedByNameAndAnswered)
{
    // Two plugins, so that the answers fit in the name.
    std::vector<std::vector<int>> groups = {{}, {}};
    for (int op = 0; op <= 50; op++)
    {
        if (op != 37) // a capability query needs a text
            groups[op < 25 ? 0 : 1].push_back(op);
    }
    groups[1].push_back(-1);
    groups[1].push_back(1000);
    groups[1].push_back(-2147483647 - 1);

    int n = 0;
    for (const std::vector<int>& ops : groups)
    {
        SCOPED_TRACE(n);
        std::string config = "category=1\nname=Ops\n";
        std::string lines, name = "Ops";
        std::string wantsMidi = "false";
        for (int op : ops)
        {
            config += "call=" + std::to_string(op) + "\n";
            long long answer = 0;
            if (Answered(op, &answer))
                lines += CallbackLine(op, NameOf(op));
            else
                lines += UnhandledLines(op, NameOf(op));
            name += " " + std::to_string(op) + "=" + std::to_string(answer);
            if (op == 32)
                name += ":Zandrel Software#17"; // 16 characters and a NUL
            if (op == 33)
                name += ":Orvanta#8";
            if (op == 6)
                wantsMidi = "true";
        }
        std::wstring dll = Plugin("Ops" + std::to_string(n++), config);
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + lines + CloseAndFreeLines() +
                              ">:{\n"
                              ">:  \"id\":        \"00000000\",\n"
                              ">:  \"name\":      \"" + name + "\",\n"
                              ">:  \"vendor\":    \"\",\n"
                              ">:  \"product\":   \"\",\n"
                              ">:  \"version\":   \"\",\n"
                              ">:  \"error\":     \"\",\n"
                              ">:  \"numInputs\": 0,\n"
                              ">:  \"numOutputs\":0,\n"
                              ">:  \"wantsMidi\":  " + wantsMidi + ",\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n" +
                              Ready);
    }
}

TEST_F(ScanCallback, UnknownOpcodesGetAWarning)
{
    std::wstring dll = Plugin("Unknown", "name=U\ncall=5\ncall=-1\ncall=1000\ncall=31\ncategory=1\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          "info:Audio master callback: 5 - <unknown>\n"
                          "warn:Unhandled audioMaster opCode - 5\n"
                          "info:Audio master callback: -1 - <unknown>\n"
                          "warn:Unhandled audioMaster opCode - -1\n"
                          "info:Audio master callback: 1000 - <unknown>\n"
                          "warn:Unhandled audioMaster opCode - 1000\n"
                          "info:Audio master callback: 31 - audioMasterGetOutputSpeakerArrangement\n"
                          "warn:Unhandled audioMaster opCode - 31\n" +
                          CloseAndFreeLines() +
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"U 5=0 -1=0 1000=0 31=0\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n" +
                          Ready);
}

TEST_F(ScanCallback, CapabilityQueries)
{
    struct Query
    {
        std::string text;
        int answer;
    } queries[] = {
        {"sendVstEvents", 1},
        {"SENDVSTEVENTS", 1},
        {"sendvstevents", 1},
        {"sendVstEvent", 0},
        {"sendVstEventsX", 0},
        {"", 0},
        {"openFileSelector", 0},
        {"sizeWindow", 1},
        {"sendVstMidiEvent", 1},
        {"sendVstTimeInfo", 1},
        {"supplyIdle", 1},
        {"receiveVstEvents", 1},
        {"receiveVstMidiEvent", 1},
        {"startStopProcess", 1},
        {"SendVstMidiEventFlagIsRealtime", 1},
        {"shellCategory", 1},
        {"sizeWindow ", 0},
        {" sizeWindow", 0},
        {"shellCategor", 0},
    };
    std::string config = "name=Q\ncategory=1\n";
    std::string lines, name = "Q";
    for (const Query& q : queries)
    {
        config += "hostcando=" + q.text + "\n";
        lines += Info("Query host can do: '" + q.text + "'");
        name += " ?" + q.text + "=" + std::to_string(q.answer);
    }
    std::wstring dll = Plugin("CanDo", config);
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + lines + CloseAndFreeLines() +
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"" + name + "\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n" +
                          Ready);
}

// A vendor or product request with a null buffer writes nothing and is
// answered 0; a capability query with a null text is logged as "(null)"
// and answered 0.
TEST_F(ScanCallback, NullPointersAreNotFollowed)
{
    std::wstring dll = Plugin("NullPtr", "name=N\ncallnull=32\ncallnull=33\ncallnull=37\ncategory=1\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          "info:Audio master callback: 32 - audioMasterGetVendorString\n"
                          "info:Audio master callback: 33 - audioMasterGetProductString\n"
                          "info:Query host can do: '(null)'\n" +
                          CloseAndFreeLines() +
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"N 32=0 33=0 37=0\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n" +
                          Ready);
}

} // namespace
