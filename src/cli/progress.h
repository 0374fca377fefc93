// What the user sees while a run goes on. In a console: one line on the
// standard error, redrawn in place (done/total, the modules being scanned
// with their formats, elapsed and estimated remaining time, a dialog the
// module waits on), with a line above it for each module that did not end
// ok. Elsewhere: one plain line per finished module.
#pragma once
#include "console_text.h"
#include <orvanta/scan.h>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace orvantacli {

// "m:ss" (or "h:mm:ss").
std::string ClockText(std::chrono::milliseconds time);
// The progress line, cut to width columns when width is positive; dialog as
// orvanta::DialogText shows it, or empty.
std::string ProgressLine(size_t done, size_t total, const std::string& module,
                         std::chrono::milliseconds elapsed, std::chrono::milliseconds remaining,
                         bool estimated, const std::string& dialog, int width);
// One finished module: "[3/7] crashed  C:\Plugins\A.dll (vst2, 2 attempts, 12.5 s)".
std::string FinishedLine(size_t done, size_t total, const orvanta::ModuleResult& result);
// One module's presets read: "[1/2] presets  C:\Plugins\A.clap (clap, 12 presets)", then for each
// provider that did not end ok "; provider ID crashed in metadata".
std::string PresetsLine(size_t done, size_t total, const orvanta::ModuleResult& result);
// How a preset provider that did not end ok ended: "crashed in metadata",
// "timed out in init", "failed: create returned NULL", "was lost".
std::string ProviderOutcomeText(const orvanta::PresetProvider& provider);
// True when a provider of the module's presets did not end ok.
bool PresetsHaveProblem(const orvanta::ModuleResult& result);

// Safe to call from several threads: a pool's servers begin modules and see
// dialogs while the database writer finishes modules.
class Progress
{
public:
    Progress(bool quiet, size_t total);
    ~Progress(); // clears the line
    // A server took a module, or is done with it (its line comes with Finish).
    void Begin(size_t server, const std::wstring& path);
    void End(size_t server);
    void Dialog(size_t server, const std::vector<orvanta::DialogWindow>& windows);
    // A module found but blocked, passed over: a line of its own.
    void Blocked(const std::wstring& path);
    // A module's result is in the database.
    void Finish(const orvanta::ModuleResult& result);
    // A module's presets are in the database.
    void FinishPresets(const orvanta::ModuleResult& result);
    // Clears the line for text that follows (the summary, an error).
    void Stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Running
    {
        std::string module, dialog;
    };
    void Draw(); // with m_lock held
    void Done(const std::string& line, bool keep);
    void Tick();

    TextStream m_err{TextStream::err};
    bool m_quiet;
    bool m_live; // a console: the line is kept and redrawn
    size_t m_total;
    size_t m_done = 0;
    Clock::time_point m_start = Clock::now();
    std::map<size_t, Running> m_running; // by server
    size_t m_drawn = 0; // columns on the line now
    bool m_stopped = false;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::thread m_ticker;
};

} // namespace orvantacli
