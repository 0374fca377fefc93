// The bundled sample plugins, one source built three ways:
//   SAMPLE_EFFECT  a stereo effect (2 in, 2 out) with a vendor version and
//                  an editor (effFlagsHasEditor)
//   SAMPLE_SYNTH   a synthesizer that takes MIDI in (0 in, 2 out), no editor
//   SAMPLE_SHELL   a shell module holding two effects, 53480001 (with an
//                  editor) and 53480002 (without); its entry point builds
//                  the one the host names through audioMasterCurrentId, or
//                  the shell itself for 0
//   SAMPLE_CRASH   an effect that writes to address 16 when asked its name
//   SAMPLE_HANG    an effect that never answers when asked its name
//   SAMPLE_DIALOG  an effect that asks for its dongle in a message box
//                  ("Licence check") when asked its name, then answers
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include "host/vst2_abi.h"

namespace {

const int32_t effFlagsCanReplacing = 1 << 4;

struct Description
{
    const char* name;
    int32_t id;
    int32_t category;
    int32_t inputs;
    int32_t outputs;
    int32_t flags;
    int32_t vendorVersion;
    bool takesMidi;
};

#if defined(SAMPLE_EFFECT)
const Description Plugin = {"Sample Effect", 0x536D4566, kPlugCategEffect, 2, 2,
                            effFlagsHasEditor | effFlagsCanReplacing | effFlagsCanDoubleReplacing, 1100, false};
#elif defined(SAMPLE_SYNTH)
const Description Plugin = {"Sample Synth", 0x536D5379, kPlugCategSynth, 0, 2,
                            effFlagsCanReplacing | effFlagsIsSynth, 1000, true};
#elif defined(SAMPLE_SHELL)
const Description Plugin = {"Sample Shell", 0x536D5368, kPlugCategShell, 0, 0, 0, 1000, false};
const Description SubPlugins[] = {
    {"Sample Shell Chorus", 0x53480001, kPlugCategEffect, 2, 2, effFlagsHasEditor | effFlagsCanReplacing, 1000,
     false},
    {"Sample Shell Delay", 0x53480002, kPlugCategEffect, 2, 2, effFlagsCanReplacing, 1000, false},
};
const int SubPluginCount = sizeof SubPlugins / sizeof SubPlugins[0];
#elif defined(SAMPLE_CRASH)
const Description Plugin = {"Sample Crash", 0x536D4372, kPlugCategEffect, 2, 2, effFlagsCanReplacing, 1000, false};
// An address the compiler cannot prove invalid, so the write stays a write.
volatile uintptr_t CrashAddress = 16;
#elif defined(SAMPLE_HANG)
const Description Plugin = {"Sample Hang", 0x536D4867, kPlugCategEffect, 2, 2, effFlagsCanReplacing, 1000, false};
#elif defined(SAMPLE_DIALOG)
const Description Plugin = {"Sample Dialog", 0x536D4467, kPlugCategEffect, 2, 2, effFlagsCanReplacing, 1000, false};
#else
#error "Choose SAMPLE_EFFECT, SAMPLE_SYNTH, SAMPLE_SHELL, SAMPLE_CRASH, SAMPLE_HANG or SAMPLE_DIALOG"
#endif

const char* Vendor = "Zandrel Software";
const char* Product = "Orvanta Samples";

struct Instance
{
    AEffect effect;
    const Description* description;
    int nextSubPlugin;
    float gain;
};

void CopyText(void* to, const char* text, size_t room)
{
    if (!to)
        return;
    strncpy((char*)to, text, room - 1);
    ((char*)to)[room - 1] = 0;
}

intptr_t Dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt)
{
    (void)index;
    (void)value;
    (void)opt;
    Instance* self = (Instance*)effect->object;
    const Description& d = *self->description;
    switch (opcode)
    {
    case effClose:
        free(self);
        return 0;
    case effGetEffectName:
#if defined(SAMPLE_CRASH)
        *(volatile int*)CrashAddress = 1;
#elif defined(SAMPLE_HANG)
        for (;;)
            Sleep(1000);
#elif defined(SAMPLE_DIALOG)
        MessageBoxW(nullptr, L"Please insert your dongle", L"Licence check", MB_OK | MB_ICONWARNING);
#endif
        CopyText(ptr, d.name, 32);
        return 1;
    case effGetVendorString:
        CopyText(ptr, Vendor, 64);
        return 1;
    case effGetProductString:
        CopyText(ptr, Product, 64);
        return 1;
    case effGetVendorVersion:
        return d.vendorVersion;
    case effGetPlugCategory:
        return d.category;
    case effCanDo:
        if (ptr && d.takesMidi &&
            (!strcmp((const char*)ptr, "receiveVstMidiEvent") || !strcmp((const char*)ptr, "receiveVstEvents")))
            return 1;
        return -1;
#if defined(SAMPLE_SHELL)
    case effShellGetNextPlugin:
        if (self->nextSubPlugin >= SubPluginCount)
            return 0;
        CopyText(ptr, SubPlugins[self->nextSubPlugin].name, 64);
        return SubPlugins[self->nextSubPlugin++].id;
#endif
    default:
        return 0;
    }
}

// Effects pass the signal through at the current gain; the synth is silent
// until it is played.
void ProcessReplacing(AEffect* effect, float** inputs, float** outputs, int32_t frames)
{
    Instance* self = (Instance*)effect->object;
    for (int32_t channel = 0; channel < effect->numOutputs; channel++)
    {
        for (int32_t i = 0; i < frames; i++)
            outputs[channel][i] = channel < effect->numInputs ? inputs[channel][i] * self->gain : 0.0f;
    }
}

void ProcessDoubleReplacing(AEffect* effect, double** inputs, double** outputs, int32_t frames)
{
    Instance* self = (Instance*)effect->object;
    for (int32_t channel = 0; channel < effect->numOutputs; channel++)
    {
        for (int32_t i = 0; i < frames; i++)
            outputs[channel][i] = channel < effect->numInputs ? inputs[channel][i] * self->gain : 0.0;
    }
}

AEffect* Create(const Description* d)
{
    Instance* self = (Instance*)calloc(1, sizeof(Instance));
    if (!self)
        return nullptr;
    self->description = d;
    self->gain = 1.0f;
    AEffect& e = self->effect;
    e.magic = kEffectMagic;
    e.dispatcher = Dispatcher;
    e.numInputs = d->inputs;
    e.numOutputs = d->outputs;
    e.flags = d->flags;
    e.uniqueID = d->id;
    e.version = 1;
    e.ioRatio = 1.0f;
    e.object = self;
    e.processReplacing = ProcessReplacing;
    if (d->flags & effFlagsCanDoubleReplacing)
        e.processDoubleReplacing = ProcessDoubleReplacing;
    return &e;
}

} // namespace

extern "C" __declspec(dllexport) AEffect* VSTPluginMain(AudioMasterCallback host)
{
    if (!host || !host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f))
        return nullptr;
#if defined(SAMPLE_SHELL)
    int32_t asked = (int32_t)host(nullptr, audioMasterCurrentId, 0, 0, nullptr, 0.0f);
    if (asked != 0)
    {
        for (int i = 0; i < SubPluginCount; i++)
        {
            if (SubPlugins[i].id == asked)
                return Create(&SubPlugins[i]);
        }
        return nullptr;
    }
#endif
    return Create(&Plugin);
}
