// The literal texts of the exchange between a host and the scan server
// (docs/protocol.md): the request forms, the tags of the server's lines,
// the lines a host looks for, and the exit code of a crash. Both processes
// include this header, the server with its own strings and the client
// library through std::string_view, so that the two sides cannot drift
// apart. Plain constants only: no library, nothing to link.
#pragma once

namespace ExchangeText {

// Host to server: one request line per "ready:", the module's path in
// UTF-8. A shell's sub-plugin, a VST3 class or a CLAP plugin follows this
// separator (the first one in the line).
constexpr char SubPluginSeparator = '>';

// The request forms a plain VST 2 request never starts with: the prefix,
// then the request. "vst2|" asks for a VST 2 scan that also reports whether
// the plugin has an editor; "vst3|" and "clap|" alone free the module held.
constexpr char Vst2RequestPrefix[] = "vst2|";
constexpr char Vst3RequestPrefix[] = "vst3|";
constexpr char ClapRequestPrefix[] = "clap|";
// A CLAP module's presets: "clap-presets|PATH" lists its preset-discovery
// providers, "clap-presets|PATH>ID" runs one provider.
constexpr char ClapPresetsRequestPrefix[] = "clap-presets|";

// Server to host: every line is a tag, its text and a line feed.
constexpr char ReadyLine[] = "ready:"; // the whole line: the server waits for a request
constexpr char InfoTag[] = "info:";    // a log line; the first is the banner
constexpr char WarnTag[] = "warn:";    // a log line about something unexpected
constexpr char ErrorTag[] = "error:";  // why a scan failed, right before its report block
constexpr char ReportTag[] = ">:";     // one line of the report block

// Written before each step of a VST3 or CLAP request that runs plugin code,
// then the step's name: the last one names the step a crash or hang
// happened in.
constexpr char PhaseLine[] = "info:Phase: ";
// A crash in a guarded clean-up step, which the server survived: this, the
// step, the exception code and ", ignored"
// ("warn:Crash in terminate (C0000005), ignored").
constexpr char SurvivedCrashLine[] = "warn:Crash in ";

// The error of a module that could not be loaded: this, then the system's
// error code in decimal.
constexpr char LoadFailedError[] = "Failed to load library, err=";
// The same when a module it needs was not found (ERROR_MOD_NOT_FOUND).
constexpr char ModuleNotFoundError[] = "Failed to load library, err=126";

// The exit code of a server whose plugin code crashed, after its dump.
constexpr int CrashExitCode = 9;

// The texts above that continue another one still do.
constexpr bool StartsWith(const char* text, const char* start)
{
    for (; *start; text++, start++)
        if (*text != *start)
            return false;
    return true;
}
static_assert(StartsWith(PhaseLine, InfoTag), "a phase line is a log line");
static_assert(StartsWith(SurvivedCrashLine, WarnTag), "a survived crash is a warning");
static_assert(StartsWith(ModuleNotFoundError, LoadFailedError), "a missing module fails the load");

} // namespace ExchangeText
