// Host-side declarations of the VST 2 plugin ABI, written from its published
// facts: the AEffect record is laid out with natural alignment (8-byte
// packing), pointer-sized members are intptr_t, the dispatcher and the host
// callback share one signature, and every function is __cdecl, the default
// on 32-bit Windows (x64 has one calling convention). Opcode and flag values
// are the ABI's published numbers.
#pragma once
#include <stdint.h>

struct AEffect;

typedef intptr_t (*AudioMasterCallback)(AEffect* effect, int32_t opcode, int32_t index,
                                        intptr_t value, void* ptr, float opt);
typedef intptr_t (*AEffectDispatcherProc)(AEffect* effect, int32_t opcode, int32_t index,
                                          intptr_t value, void* ptr, float opt);
typedef void (*AEffectProcessProc)(AEffect* effect, float** inputs, float** outputs,
                                   int32_t sampleFrames);
typedef void (*AEffectProcessDoubleProc)(AEffect* effect, double** inputs, double** outputs,
                                         int32_t sampleFrames);
typedef void (*AEffectSetParameterProc)(AEffect* effect, int32_t index, float parameter);
typedef float (*AEffectGetParameterProc)(AEffect* effect, int32_t index);
// The exported entry point, "VSTPluginMain" or the older "main".
typedef AEffect* (*PluginEntryProc)(AudioMasterCallback host);

struct AEffect
{
    int32_t magic;                 // kEffectMagic
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;    // deprecated accumulating process
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    int32_t numPrograms;
    int32_t numParams;
    int32_t numInputs;
    int32_t numOutputs;
    int32_t flags;
    intptr_t resvd1;
    intptr_t resvd2;
    int32_t initialDelay;
    int32_t realQualities;
    int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    int32_t uniqueID;
    int32_t version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// 4-byte members and pointers: no padding on x86; on x64 each pointer after
// an odd number of 4-byte members is padded to 8.
#if defined(_WIN64)
static_assert(sizeof(AEffect) == 192, "AEffect");
#else
static_assert(sizeof(AEffect) == 144, "AEffect");
#endif

const int32_t kEffectMagic = 0x56737450; // "VstP" read big-endian

// Dispatcher opcodes (host to plugin).
enum
{
    effOpen = 0,
    effClose = 1,
    effGetPlugCategory = 35,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effCanDo = 51,
    effShellGetNextPlugin = 70
};

// Host callback opcodes (plugin to host) that the server answers.
enum
{
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterWantMidi = 6,
    audioMasterGetTime = 7,
    audioMasterNeedIdle = 14,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterCanDo = 37
};

// AEffect.flags bits.
const int32_t effFlagsHasEditor = 1 << 0;
const int32_t effFlagsIsSynth = 1 << 8;
const int32_t effFlagsCanDoubleReplacing = 1 << 12;

// Plugin categories.
enum
{
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2,
    kPlugCategShell = 10
};

// Buffer size the ABI gives for the host's vendor and product strings.
const int kVstMaxVendorStrLen = 64;
