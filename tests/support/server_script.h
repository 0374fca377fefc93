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
// children play it. A script without an answer to "vst3|" (free the module)
// gets vst3answers::Free, as every real server gives it.
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

} // namespace testsupport
