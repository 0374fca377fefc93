// The stand-in server's script mode (fake_server.cpp): answers written out
// line by line as the real server would give them, for exchanges that no
// real plugin can be made to give yet.
#pragma once
#include <string>
#include <vector>

namespace testsupport {

// Writes the script to scriptPath, each "BINARY" in it replaced by binary
// (a path in UTF-8, as a request carries it; nothing when empty), and makes
// every stand-in server started from now on by this process or its
// children play it. A script without an answer to "vst3|" or "clap|" (free
// the module) gets vst3answers::Free or clapanswers::Free, as every real
// server gives them.
void PlayServerScript(const std::wstring& scriptPath, const std::string& script,
                      const std::string& binary = "");
// Stand-in servers started from now on answer by the request's text again.
void StopServerScript();
// The request lines the servers playing the script got, in order.
std::vector<std::string> ScriptRequests(const std::wstring& scriptPath);

// Answers to the server's VST3 requests (docs/protocol.md, "VST3 modules")
// about a module whose binary is "BINARY": its factory (vendor "Zandrel
// Software") lists the audio module class "Sample Gain" (Fx|Stereo, a stereo
// effect), its controller, and the audio module class "Sample Synth"
// (Instrument|Synth, MIDI in, stereo out).
namespace vst3answers {

extern const std::string GainId, ControllerId, SynthId;
// The module request.
extern const std::string Module;
// "vst3|": the module held is freed.
extern const std::string Free;
// Each audio module class's request.
extern const std::string Gain, Synth;
// The gain's request in a fresh server, with the phases up to the one
// named ("createInstance", "initialize" or "bus info"), where the server
// then ends with the crash's exit code 9 (and no dump).
std::string GainCrashIn(const std::string& lastPhase);

} // namespace vst3answers

// Answers to the server's CLAP requests (docs/protocol.md, "CLAP modules")
// about the module "BINARY": its factory lists "Zandrel Gain" (a stereo
// effect declaring a VST3 class and, through a converter, a VST 2 ID), a
// descriptor without an ID, and "Zandrel Synth" (notes in, stereo out;
// converters from a VST3 class, an older CLAP plugin and a VST 2 ID), and
// converters that name no plugin of the module or cannot be read.
namespace clapanswers {

extern const std::string GainId, SynthId;
// The module request.
extern const std::string Module;
// "clap|": the module held is freed.
extern const std::string Free;
// Each plugin's request.
extern const std::string Gain, Synth;
// The gain's request in a fresh server, with the phases up to the one
// named ("create_plugin", "plugin init", "audio ports" or "note ports"),
// where the server then ends with the crash's exit code 9 (and no dump).
std::string GainCrashIn(const std::string& lastPhase);

} // namespace clapanswers

} // namespace testsupport
