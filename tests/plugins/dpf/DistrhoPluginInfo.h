// What the DPF gain fixture declares to every plugin format. The tests
// compare the scan server's reports with these values.
#pragma once

#define DISTRHO_PLUGIN_NAME "Orvanta DPF Gain"
#define DISTRHO_PLUGIN_BRAND "Zandrel Software"
#define DISTRHO_PLUGIN_URI "urn:zandrel:orvanta-dpf-gain"
#define DISTRHO_PLUGIN_CLAP_ID "com.zandrel.orvanta-dpf-gain"
#define DISTRHO_PLUGIN_BRAND_ID Zdrl
#define DISTRHO_PLUGIN_UNIQUE_ID OdGn

#define DISTRHO_PLUGIN_HAS_UI 0
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_WANT_MIDI_INPUT 1

#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|Stereo"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "stereo"
