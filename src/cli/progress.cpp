#include "progress.h"
#include <orvanta/paths.h>
#include <orvanta/text.h>
#include <cstdio>

namespace orvantacli {

using namespace std::chrono;

std::string ClockText(milliseconds time)
{
    long long s = time.count() / 1000;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

namespace {

// Columns of UTF-8 text, taking each code point as one column.
size_t Columns(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string CutToColumns(const std::string& text, size_t columns)
{
    size_t n = 0;
    for (size_t i = 0; i < text.size(); i++)
    {
        if (((unsigned char)text[i] & 0xC0) != 0x80 && n++ == columns)
            return text.substr(0, i);
    }
    return text;
}

} // namespace

std::string ProgressLine(size_t done, size_t total, const std::string& module, milliseconds elapsed,
                         milliseconds remaining, bool estimated, const std::string& dialog, int width)
{
    // The dialog comes before the times: a narrow console cuts the end.
    std::string line = std::to_string(done) + "/" + std::to_string(total) + " done";
    if (!module.empty())
        line += "  " + module;
    if (!dialog.empty())
        line += "  waiting on dialog " + dialog;
    line += "  " + ClockText(elapsed) + " elapsed, " +
            (estimated ? "~" + ClockText(remaining) + " left" : "estimating time left");
    if (width > 1)
        line = CutToColumns(line, (size_t)width - 1); // the last column would wrap the line
    return line;
}

std::string FinishedLine(size_t done, size_t total, const orvanta::ModuleResult& result)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", result.scanMs / 1000.0);
    std::string status = orvanta::StatusName(result.status);
    status.resize(8, ' ');
    std::string line = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " + status +
                       orvanta::ToUtf8(result.path) + " (" + orvanta::FormatName(result.format) + ", ";
    if (result.attempts > 1)
        line += std::to_string(result.attempts) + " attempts, ";
    line += seconds;
    size_t plugins = result.plugins.size();
    if (plugins > 1)
        line += ", " + std::to_string(plugins) + " plugins";
    line += ")";
    if (!result.windows.empty())
        line += ", waited on dialog " + orvanta::DialogText(result.windows);
    return line;
}

std::string ProviderOutcomeText(const orvanta::PresetProvider& provider)
{
    std::string in = provider.phase.empty() ? "" : " in " + provider.phase;
    switch (provider.status)
    {
    case orvanta::Status::ok:
        return "ok";
    case orvanta::Status::failed:
        return "failed" + in + ": " + provider.error;
    case orvanta::Status::crashed:
        return "crashed" + in;
    case orvanta::Status::timeout:
        return "timed out" + in;
    case orvanta::Status::lost:
        return "was lost" + in + (provider.error.empty() ? "" : ": " + provider.error);
    }
    return "?";
}

bool PresetsHaveProblem(const orvanta::ModuleResult& result)
{
    if (!result.presets)
        return false;
    for (const orvanta::PresetProvider& provider : result.presets->providers)
    {
        if (provider.status != orvanta::Status::ok)
            return true;
    }
    return false;
}

std::string PresetsLine(size_t done, size_t total, const orvanta::ModuleResult& result)
{
    size_t count = result.presets ? result.presets->presets.size() : 0;
    std::string line = "[" + std::to_string(done) + "/" + std::to_string(total) + "] presets  " +
                       orvanta::ToUtf8(result.path) + " (" + orvanta::FormatName(result.format) + ", " +
                       std::to_string(count) + (count == 1 ? " preset)" : " presets)");
    if (result.presets)
    {
        for (const orvanta::PresetProvider& provider : result.presets->providers)
        {
            if (provider.status == orvanta::Status::ok)
                continue;
            line += "; provider " + provider.id + " " + ProviderOutcomeText(provider);
        }
    }
    return line;
}

Progress::Progress(bool quiet, size_t total) : m_quiet(quiet), m_live(!quiet && m_err.IsConsole()), m_total(total)
{
    if (m_live)
        m_ticker = std::thread([this] { Tick(); });
}

Progress::~Progress()
{
    Stop();
}

void Progress::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopped)
            return;
        m_stopped = true;
        if (m_live && m_drawn)
            m_err.Write("\r" + std::string(m_drawn, ' ') + "\r");
        m_drawn = 0;
    }
    m_wake.notify_all();
    if (m_ticker.joinable())
        m_ticker.join();
}

void Progress::Begin(size_t server, const std::wstring& path)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_running[server] = Running{orvanta::ToUtf8(orvanta::FileNameOf(path)) + " (" +
                                    orvanta::FormatName(orvanta::FormatOfPath(path)) + ")",
                                ""};
    Draw();
}

void Progress::End(size_t server)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_running.erase(server);
    Draw();
}

void Progress::Dialog(size_t server, const std::vector<orvanta::DialogWindow>& windows)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_running.find(server);
    if (it == m_running.end())
        return;
    it->second.dialog = orvanta::DialogText(windows);
    Draw();
}

void Progress::Finish(const orvanta::ModuleResult& result)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_done++;
    if (m_quiet || m_stopped)
        return;
    Done(FinishedLine(m_done, m_total, result), orvanta::HasProblem(result));
}

void Progress::FinishPresets(const orvanta::ModuleResult& result)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_done++;
    if (m_quiet || m_stopped)
        return;
    Done(PresetsLine(m_done, m_total, result), PresetsHaveProblem(result));
}

// A finished module's line: in a console only those that went wrong stay
// on screen, above the progress line.
void Progress::Done(const std::string& line, bool keep)
{
    if (m_live)
    {
        std::string clear = "\r" + std::string(m_drawn, ' ') + "\r";
        m_drawn = 0;
        m_err.Write(keep ? clear + line + "\n" : clear);
        Draw();
    }
    else
    {
        m_err.Write(line + "\n");
    }
}

void Progress::Blocked(const std::wstring& path)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_quiet || m_stopped)
        return;
    std::string clear = m_live ? "\r" + std::string(m_drawn, ' ') + "\r" : "";
    m_drawn = 0;
    m_err.Write(clear + "blocked  " + orvanta::ToUtf8(path) + " (never loaded)\n");
    Draw();
}

void Progress::Draw()
{
    if (!m_live || m_stopped)
        return;
    milliseconds elapsed = duration_cast<milliseconds>(Clock::now() - m_start);
    // With several servers the time per module is the run's, not a scan's:
    // what is left takes as long per module as what is done took.
    bool estimated = m_done > 0;
    milliseconds remaining{0};
    if (estimated)
        remaining = elapsed * (long long)(m_total - std::min(m_done, m_total)) / (long long)m_done;
    std::string modules, dialog;
    for (const auto& entry : m_running)
    {
        modules += (modules.empty() ? "" : ", ") + entry.second.module;
        if (dialog.empty())
            dialog = entry.second.dialog;
    }
    std::string line = ProgressLine(m_done, m_total, modules, elapsed, remaining, estimated, dialog, m_err.Width());
    size_t columns = Columns(line);
    std::string text = "\r" + line;
    if (columns < m_drawn)
        text += std::string(m_drawn - columns, ' ');
    m_err.Write(text);
    m_drawn = columns;
}

void Progress::Tick()
{
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stopped)
    {
        m_wake.wait_for(guard, milliseconds(500));
        if (!m_stopped)
            Draw();
    }
}

} // namespace orvantacli
