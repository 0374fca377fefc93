#include "vst2_host_callback.h"
#include "probe_threads.h"
#include "../base/log_output.h"
#include "../base/shared_string.h"

int32_t CurrentShellId;
bool Vst2PluginWantsMidi;

struct OpcodeName
{
    int32_t opcode;
    const char* name;
};

// Only for the log line; opcode 5 has no name.
static const OpcodeName OpcodeNames[] = {
    {0, "audioMasterAutomate"},
    {1, "audioMasterVersion"},
    {2, "audioMasterCurrentId"},
    {3, "audioMasterIdle"},
    {4, "audioMasterPinConnected"},
    {6, "audioMasterWantMidi"},
    {7, "audioMasterGetTime"},
    {8, "audioMasterProcessEvents"},
    {9, "audioMasterSetTime"},
    {10, "audioMasterTempoAt"},
    {11, "audioMasterGetNumAutomatableParameters"},
    {12, "audioMasterGetParameterQuantization"},
    {13, "audioMasterIOChanged"},
    {14, "audioMasterNeedIdle"},
    {15, "audioMasterSizeWindow"},
    {16, "audioMasterGetSampleRate"},
    {17, "audioMasterGetBlockSize"},
    {18, "audioMasterGetInputLatency"},
    {19, "audioMasterGetOutputLatency"},
    {20, "audioMasterGetPreviousPlug"},
    {21, "audioMasterGetNextPlug"},
    {22, "audioMasterWillReplaceOrAccumulate"},
    {23, "audioMasterGetCurrentProcessLevel"},
    {24, "audioMasterGetAutomationState"},
    {25, "audioMasterOfflineStart"},
    {26, "audioMasterOfflineRead"},
    {27, "audioMasterOfflineWrite"},
    {28, "audioMasterOfflineGetCurrentPass"},
    {29, "audioMasterOfflineGetCurrentMetaPass"},
    {30, "audioMasterSetOutputSampleRate"},
    {31, "audioMasterGetOutputSpeakerArrangement"},
    {32, "audioMasterGetVendorString"},
    {33, "audioMasterGetProductString"},
    {34, "audioMasterGetVendorVersion"},
    {35, "audioMasterVendorSpecific"},
    {36, "audioMasterSetIcon"},
    {37, "audioMasterCanDo"},
    {38, "audioMasterGetLanguage"},
    {39, "audioMasterOpenWindow"},
    {40, "audioMasterCloseWindow"},
    {41, "audioMasterGetDirectory"},
    {42, "audioMasterUpdateDisplay"},
    {43, "audioMasterBeginEdit"},
    {44, "audioMasterEndEdit"},
    {45, "audioMasterOpenFileSelector"},
    {46, "audioMasterCloseFileSelector"},
    {47, "audioMasterEditFile"},
    {48, "audioMasterGetChunkFile"},
    {49, "audioMasterGetInputSpeakerArrangement"},
    {0, nullptr},
};

static const char* const HostCapabilities[] = {
    "sizeWindow",          "sendVstEvents",    "sendVstMidiEvent",
    "sendVstTimeInfo",     "supplyIdle",       "receiveVstEvents",
    "receiveVstMidiEvent", "startStopProcess", "sendVstMidiEventFlagIsRealtime",
    "shellCategory",
};

const char* Vst2HostOpcodeName(int32_t opcode)
{
    for (const OpcodeName* row = OpcodeNames; row->name; row++)
        if (row->opcode == opcode)
            return row->name;
    return nullptr;
}

static char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

static bool EqualFolded(const char* a, const char* b)
{
    for (; *a && *b; a++, b++)
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
    return *a == *b;
}

intptr_t Vst2HostCanDo(const char* capability)
{
    if (!capability)
        return 0;
    for (const char* known : HostCapabilities)
        if (EqualFolded(capability, known))
            return 1;
    return 0;
}

// Copies at most 63 characters and a terminator into the ABI's 64-byte
// string buffer.
static void CopyHostString(void* ptr, const char* text)
{
    char* out = static_cast<char*>(ptr);
    int i = 0;
    for (; text[i] && i < kVstMaxVendorStrLen - 1; i++)
        out[i] = text[i];
    out[i] = 0;
}

// Every call gets its answer; only a call that belongs to the probe running
// now writes a line or sets a flag, so a thread a plugin left behind cannot
// write into another plugin's answer or change its report.
intptr_t Vst2HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float)
{
    bool ours = CallBelongsToProbe();
    if (opcode == audioMasterCanDo)
    {
        // A null ptr is neither read nor written: it is logged as "(null)"
        // and no capability matches it. A text whose escaped form cannot
        // be made is not logged, like any line that cannot be built.
        const char* capability = static_cast<const char*>(ptr);
        if (ours)
        {
            CSharedStringA text = EscapeLineBreaks(capability);
            if (!capability || !text.IsNull())
                LogInfo(L"Query host can do: '%S'\n", text.Chars());
        }
        return Vst2HostCanDo(capability);
    }

    // The 8-bit name goes straight into the line: no text of its own to
    // make, so none that could come out as "(null)".
    const char* name = Vst2HostOpcodeName(opcode);
    if (ours)
        LogInfo(L"Audio master callback: %i - %S\n", opcode, name ? name : "<unknown>");

    switch (opcode)
    {
    case audioMasterAutomate:
        return 0;
    case audioMasterVersion:
        return 2400;
    case audioMasterCurrentId:
        return (intptr_t)CurrentShellId;
    case audioMasterWantMidi:
        if (ours)
            Vst2PluginWantsMidi = true;
        return 0;
    case audioMasterNeedIdle:
        return 1;
    case audioMasterGetSampleRate:
        return 44100;
    case audioMasterGetBlockSize:
        return 512;
    case audioMasterGetCurrentProcessLevel:
        return 4;
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
        // With no buffer to fill the answer is 0, "not supplied".
        if (!ptr)
            return 0;
        CopyHostString(ptr, opcode == audioMasterGetVendorString ? "Zandrel Software" : "Orvanta");
        return 1;
    case audioMasterGetVendorVersion:
        return 3;
    }
    if (ours)
        LogWarn(L"Unhandled audioMaster opCode - %i\n", opcode);
    return 0;
}
