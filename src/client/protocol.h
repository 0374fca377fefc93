// The scan server's exchange as the client reads and writes it: the literal
// texts of its lines, in one place.
#pragma once
#include <string>
#include <string_view>

namespace orvanta {
namespace protocol {

// Every line the server writes is a tag, a colon and a text.
constexpr std::string_view ReadyLine = "ready:"; // the server waits for a request
constexpr std::string_view InfoTag = "info:";    // a log line; the first is the banner
constexpr std::string_view ReportTag = ">:";     // one line of the report block

inline bool HasTag(const std::string& line, std::string_view tag)
{
    return line.compare(0, tag.size(), tag) == 0;
}

// A request is one line: the module's path in UTF-8, then for a shell's
// sub-plugin this separator and the ID in eight hexadecimal digits.
constexpr char SubPluginSeparator = '>';

// The VST 2 request form that also reports what plain requests leave out
// (whether the plugin has an editor): this prefix, then a plain request.
constexpr std::string_view Vst2RequestPrefix = "vst2|";
// A VST3 request: this prefix, the binary's path in UTF-8, and for a class
// request the sub-plugin separator and the class ID in 32 hexadecimal digits.
constexpr std::string_view Vst3RequestPrefix = "vst3|";
// A CLAP request: this prefix, the module's path in UTF-8, and for a plugin
// request the sub-plugin separator and the plugin ID as the descriptor gave
// it. The prefix alone frees the module held.
constexpr std::string_view ClapRequestPrefix = "clap|";
// Written before each step of a VST3 or CLAP request that runs plugin code; the
// last one names the step a crash or hang happened in.
constexpr std::string_view PhaseLine = "info:Phase: ";
// A crash in a guarded clean-up step, which the server survived:
// "warn:Crash in terminate (C0000005), ignored".
constexpr std::string_view WarnTag = "warn:";
constexpr std::string_view SurvivedCrashLine = "warn:Crash in ";

// The error of a report whose module could not be loaded because a module
// it needs was not found (ERROR_MOD_NOT_FOUND).
constexpr std::string_view ModuleNotFoundError = "Failed to load library, err=126";

} // namespace protocol
} // namespace orvanta
