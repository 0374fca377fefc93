#include "server_script.h"
#include "files.h"
#include "text.h"
#include <windows.h>

namespace testsupport {

void PlayServerScript(const std::wstring& scriptPath, const std::string& script, const std::string& binary)
{
    std::string text = script;
    if (text.find("= vst3|\n") == std::string::npos)
        text += vst3answers::Free;
    if (text.find("= clap|\n") == std::string::npos)
        text += clapanswers::Free;
    const std::string placeholder = "BINARY";
    for (size_t at = 0; !binary.empty() && (at = text.find(placeholder, at)) != std::string::npos;
         at += binary.size())
        text.replace(at, placeholder.size(), binary);
    WriteWholeFile(scriptPath, text);
    SetEnvironmentVariableW(L"FAKE_SERVER_SCRIPT", scriptPath.c_str());
}

void StopServerScript()
{
    SetEnvironmentVariableW(L"FAKE_SERVER_SCRIPT", nullptr);
}

std::vector<std::string> ScriptRequests(const std::wstring& scriptPath)
{
    return ReadLines(scriptPath + L".log");
}

namespace vst3answers {

const std::string GainId = "5653544753616D706C65476169700000";
const std::string ControllerId = "5653454353616D706C65476169700000";
const std::string SynthId = "56535453616D706C6553796E74680000";

const std::string Free = R"(= vst3|
info:Freeing the cached module on request...
info:Freeing cached library...
info:Phase: factory release
info:Phase: ExitDll
info:Freed
info:Finished
>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": ""
>:}
)";

const std::string Module = R"(= vst3|BINARY
info:Scanning VST3 module: 'vst3|BINARY'
info:Phase: load
info:Phase: InitDll
info:Phase: GetPluginFactory
info:Phase: factory info
info:Phase: class info
info:Phase: setHostContext
info:Keeping VST3 library loaded for now...
info:Finished
>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": "",
>:  "initDll": true,
>:  "exitDll": true,
>:  "factory": {"vendor": "Zandrel Software", "url": "https://example.com", "email": "info@example.com", "flags": 16},
>:  "classCount": 3,
>:  "classes": [
>:    {"index": 0, "cid": "5653544753616D706C65476169700000", "category": "Audio Module Class", "name": "Sample Gain", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Fx|Stereo", "vendor": "Zandrel Software", "version": "1.2.3", "sdkVersion": "VST 3.7.0"},
>:    {"index": 1, "cid": "5653454353616D706C65476169700000", "category": "Component Controller Class", "name": "Sample Gain Controller", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 0, "subCategories": "", "vendor": "Zandrel Software", "version": "1.2.3", "sdkVersion": "VST 3.7.0"},
>:    {"index": 2, "cid": "56535453616D706C6553796E74680000", "category": "Audio Module Class", "name": "Sample Synth", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Instrument|Synth", "vendor": "Zandrel Software", "version": "2.0.0", "sdkVersion": "VST 3.7.0"}
>:  ]
>:}
)";

const std::string Gain = R"(= vst3|BINARY>5653544753616D706C65476169700000
info:Scanning VST3 class: 'vst3|BINARY>5653544753616D706C65476169700000'
info:Re-using previous library instance...
info:Phase: createInstance
info:Phase: initialize
info:Phase: bus info
info:Phase: terminate
info:Phase: release
info:Finished
>:{
>:  "format": "vst3",
>:  "cid": "5653544753616D706C65476169700000",
>:  "error": "",
>:  "phase": "",
>:  "audioInputBuses": 1,
>:  "audioOutputBuses": 1,
>:  "eventInputBuses": 0,
>:  "eventOutputBuses": 0,
>:  "audioInputs": 2,
>:  "audioOutputs": 2,
>:  "buses": [
>:    {"media": "audio", "direction": "in", "index": 0, "name": "Audio Input", "channels": 2, "busType": 0, "flags": 1},
>:    {"media": "audio", "direction": "out", "index": 0, "name": "Audio Output", "channels": 2, "busType": 0, "flags": 1}
>:  ]
>:}
)";

const std::string Synth = R"(= vst3|BINARY>56535453616D706C6553796E74680000
info:Scanning VST3 class: 'vst3|BINARY>56535453616D706C6553796E74680000'
info:Re-using previous library instance...
info:Phase: createInstance
info:Phase: initialize
info:Phase: bus info
info:Phase: terminate
info:Phase: release
info:Finished
>:{
>:  "format": "vst3",
>:  "cid": "56535453616D706C6553796E74680000",
>:  "error": "",
>:  "phase": "",
>:  "audioInputBuses": 0,
>:  "audioOutputBuses": 1,
>:  "eventInputBuses": 1,
>:  "eventOutputBuses": 0,
>:  "audioInputs": 0,
>:  "audioOutputs": 2,
>:  "buses": [
>:    {"media": "audio", "direction": "out", "index": 0, "name": "Audio Output", "channels": 2, "busType": 0, "flags": 1},
>:    {"media": "event", "direction": "in", "index": 0, "name": "Event/MIDI Input", "channels": 1, "busType": 0, "flags": 1}
>:  ]
>:}
)";

std::string GainCrashIn(const std::string& lastPhase)
{
    std::string answer = "= vst3|BINARY>" + GainId + "\n"
                         "info:Scanning VST3 class: 'vst3|BINARY>" + GainId + "'\n"
                         "info:Phase: load\n"
                         "info:Phase: InitDll\n"
                         "info:Phase: GetPluginFactory\n"
                         "info:Phase: setHostContext\n";
    for (const char* phase : {"createInstance", "initialize", "bus info"})
    {
        answer += std::string("info:Phase: ") + phase + "\n";
        if (lastPhase == phase)
            break;
    }
    return answer + "!exit 9\n";
}

} // namespace vst3answers

namespace clapanswers {

const std::string GainId = "com.zandrel.gain";
const std::string SynthId = "com.zandrel.synth";

const std::string Free = R"(= clap|
info:Freeing the cached module on request...
info:Freeing cached library...
info:Phase: deinit
info:Freed
info:Finished
>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": ""
>:}
)";

const std::string Module = R"(= clap|BINARY
info:Scanning CLAP module: 'clap|BINARY'
info:Phase: load
info:Phase: clap_entry
info:Phase: init
info:Phase: get_factory
info:Phase: descriptors
info:Phase: vst3 info
info:Phase: converters
info:Keeping CLAP library loaded for now...
info:Finished
>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.2.2",
>:  "pluginCount": 3,
>:  "plugins": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.gain", "name": "Zandrel Gain", "vendor": "Zandrel Software", "url": "https:\/\/example.com", "manualUrl": "", "supportUrl": "", "version": "1.2.3", "description": "A gain", "features": ["audio-effect", "stereo"], "clapVersion": "1.2.2", "cut": [], "vst3": "5653544753616D706C65476169700000"},
>:    {"index": 1, "problem": "no id", "id": "", "name": "", "vendor": "", "url": "", "manualUrl": "", "supportUrl": "", "version": "", "description": "", "features": [], "clapVersion": "", "cut": [], "vst3": ""},
>:    {"index": 2, "problem": "", "id": "com.zandrel.synth", "name": "Zandrel Synth", "vendor": "Zandrel Software", "url": "", "manualUrl": "", "supportUrl": "", "version": "2.0.0", "description": "A synth", "features": ["instrument", "synthesizer", "stereo"], "clapVersion": "1.2.0", "cut": [], "vst3": ""}
>:  ],
>:  "converters": [
>:    {"srcAbi": "vst2", "srcId": "1514493294", "dstAbi": "clap", "dstId": "com.zandrel.gain"},
>:    {"srcAbi": "vst3", "srcId": "56535453-616d-706c-6553-796e74680000", "dstAbi": "clap", "dstId": "com.zandrel.synth"},
>:    {"srcAbi": "clap", "srcId": "com.zandrel.oldsynth", "dstAbi": "clap", "dstId": "com.zandrel.synth"},
>:    {"srcAbi": "vst2", "srcId": "-1", "dstAbi": "clap", "dstId": "com.zandrel.synth"},
>:    {"srcAbi": "vst2", "srcId": "1514493294", "dstAbi": "clap", "dstId": "com.other.plugin"},
>:    {"srcAbi": "vst3", "srcId": "not-a-uuid", "dstAbi": "clap", "dstId": "com.zandrel.synth"},
>:    {"srcAbi": "vst2", "srcId": "1514493294", "dstAbi": "vst3", "dstId": "com.zandrel.gain"}
>:  ]
>:}
)";

const std::string Gain = R"(= clap|BINARY>com.zandrel.gain
info:Scanning CLAP plugin: 'clap|BINARY>com.zandrel.gain'
info:Re-using previous library instance...
info:Phase: create_plugin
info:Phase: plugin init
info:Phase: audio ports
info:Phase: note ports
info:Phase: destroy
info:Keeping CLAP library loaded for now...
info:Finished
>:{
>:  "format": "clap",
>:  "id": "com.zandrel.gain",
>:  "error": "",
>:  "phase": "",
>:  "audioInputPorts": 1,
>:  "audioOutputPorts": 1,
>:  "audioInputs": 2,
>:  "audioOutputs": 2,
>:  "noteInputPorts": 0,
>:  "noteOutputPorts": 0,
>:  "ports": [
>:    {"kind": "audio", "direction": "in", "index": 0, "id": 0, "name": "Input", "channels": 2, "flags": 1, "portType": "stereo"},
>:    {"kind": "audio", "direction": "out", "index": 0, "id": 1, "name": "Output", "channels": 2, "flags": 1, "portType": "stereo"}
>:  ]
>:}
)";

const std::string Synth = R"(= clap|BINARY>com.zandrel.synth
info:Scanning CLAP plugin: 'clap|BINARY>com.zandrel.synth'
info:Re-using previous library instance...
info:Phase: create_plugin
info:Phase: plugin init
info:Phase: audio ports
info:Phase: note ports
info:Phase: destroy
info:Keeping CLAP library loaded for now...
info:Finished
>:{
>:  "format": "clap",
>:  "id": "com.zandrel.synth",
>:  "error": "",
>:  "phase": "",
>:  "audioInputPorts": 0,
>:  "audioOutputPorts": 1,
>:  "audioInputs": 0,
>:  "audioOutputs": 2,
>:  "noteInputPorts": 1,
>:  "noteOutputPorts": 0,
>:  "ports": [
>:    {"kind": "audio", "direction": "out", "index": 0, "id": 0, "name": "Output", "channels": 2, "flags": 1, "portType": "stereo"},
>:    {"kind": "note", "direction": "in", "index": 0, "id": 0, "name": "Notes", "dialects": 3, "preferred": 1}
>:  ]
>:}
)";

std::string GainCrashIn(const std::string& lastPhase)
{
    std::string answer = "= clap|BINARY>" + GainId + "\n"
                         "info:Scanning CLAP plugin: 'clap|BINARY>" + GainId + "'\n"
                         "info:Phase: load\n"
                         "info:Phase: clap_entry\n"
                         "info:Phase: init\n"
                         "info:Phase: get_factory\n";
    for (const char* phase : {"create_plugin", "plugin init", "audio ports", "note ports"})
    {
        answer += std::string("info:Phase: ") + phase + "\n";
        if (lastPhase == phase)
            break;
    }
    return answer + "!exit 9\n";
}

} // namespace clapanswers
} // namespace testsupport
