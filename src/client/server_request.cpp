// One request: the line written, the answer waited for within the time
// limit while the server's windows are watched for a dialog, and the
// answer classified.
#include "protocol.h"
#include "report_parser.h"
#include "scan_server_impl.h"
#include "dialog_windows.h"
#include "json_block.h"
#include "orvanta/text.h"
#include <algorithm>

namespace orvanta {

ScanServer::ScanServer(ServerConfig config) : m_impl(new Impl)
{
    m_impl->config = std::move(config);
}

ScanServer::~ScanServer()
{
    Stop();
}

const std::string& ScanServer::Banner() const
{
    return m_impl->banner;
}

bool ScanServer::Running() const
{
    return m_impl->process && WaitForSingleObject(m_impl->process, 0) == WAIT_TIMEOUT;
}

const std::vector<std::wstring>& ScanServer::ScannedByThisProcess() const
{
    return m_impl->scanned;
}

RequestOutcome ScanServer::Request(const std::wstring& path, std::optional<uint32_t> shellId,
                                   const DialogFn& onDialog)
{
    std::string line = std::string(protocol::Vst2RequestPrefix) + ToUtf8(path);
    if (shellId)
        line += protocol::SubPluginSeparator + HexId(*shellId);
    return Exchange(path, line, Answer::vst2, {}, onDialog);
}

RequestOutcome ScanServer::RequestVst3(const std::wstring& binary, const std::string& classId,
                                       const DialogFn& onDialog)
{
    std::string line = std::string(protocol::Vst3RequestPrefix) + ToUtf8(binary);
    if (!classId.empty())
        line += protocol::SubPluginSeparator + classId;
    return Exchange(binary, line, classId.empty() ? Answer::vst3Module : Answer::vst3Class, classId,
                    onDialog);
}

RequestOutcome ScanServer::FreeVst3(const std::wstring& binary, const DialogFn& onDialog)
{
    return Exchange(binary, std::string(protocol::Vst3RequestPrefix), Answer::vst3Free, {}, onDialog);
}

RequestOutcome ScanServer::RequestClap(const std::wstring& path, const std::string& pluginId,
                                       const DialogFn& onDialog)
{
    std::string line = std::string(protocol::ClapRequestPrefix) + ToUtf8(path);
    if (!pluginId.empty())
        line += protocol::SubPluginSeparator + pluginId;
    return Exchange(path, line, pluginId.empty() ? Answer::clapModule : Answer::clapPlugin, pluginId,
                    onDialog);
}

RequestOutcome ScanServer::FreeClap(const std::wstring& path, const DialogFn& onDialog)
{
    return Exchange(path, std::string(protocol::ClapRequestPrefix), Answer::clapFree, {}, onDialog);
}

namespace {

// The step named by the last "info:Phase: " line of an answer.
std::string LastPhase(const std::vector<std::string>& lines)
{
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
    {
        if (protocol::HasTag(*it, protocol::PhaseLine))
            return it->substr(protocol::PhaseLine.size());
    }
    return "";
}

} // namespace

RequestOutcome ScanServer::Exchange(const std::wstring& path, const std::string& request, Answer answer,
                                    const std::string& pluginId, const DialogFn& onDialog)
{
    Impl& s = *m_impl;
    RequestOutcome outcome;
    uint64_t started = Now();
    uint64_t requested = started;
    auto finish = [&]() {
        outcome.elapsedMs = (uint32_t)(Now() - requested);
        return outcome;
    };

    if (!s.process)
    {
        std::string error;
        if (!s.Launch(&error))
        {
            outcome.status = Status::lost;
            outcome.error = error;
            return finish();
        }
        size_t end = 0;
        uint32_t startLimit = std::max(s.config.timeoutMs, StartLimitMs);
        Impl::Wait wait = s.WaitReady(started + startLimit, &end);
        std::vector<std::string> lines = s.TakeLines(end);
        if (!lines.empty() && protocol::HasTag(lines[0], protocol::InfoTag))
            s.banner = lines[0].substr(protocol::InfoTag.size());
        if (wait == Impl::Wait::time)
        {
            s.Terminate();
            s.Close();
            outcome.status = Status::lost;
            outcome.error = "the server did not say ready within " +
                            std::to_string(startLimit) + " ms";
            outcome.lines = lines;
            return finish();
        }
        if (wait == Impl::Wait::ended)
        {
            outcome.lines = lines;
            s.EndedOutcome(&outcome, "while starting");
            return finish();
        }
    }

    bool known = false;
    for (const std::wstring& p : s.scanned)
        known = known || p == path;
    if (!known)
        s.scanned.push_back(path);

    std::string line = request + "\n";
    requested = Now();
    DWORD written = 0;
    // A failed write means the server is gone; its end is read below.
    WriteFile(s.toServer, line.data(), (DWORD)line.size(), &written, nullptr);

    uint64_t deadline = requested + s.config.timeoutMs;
    uint64_t dumpCap = deadline + DumpWaitCapMs;
    std::vector<DialogWindow> shown;
    size_t end = 0;
    Impl::Wait wait;
    for (;;)
    {
        uint64_t now = Now();
        uint64_t until = now + PollMs;
        if (now < deadline && until > deadline)
            until = deadline;
        wait = s.WaitReady(until, &end);
        if (wait != Impl::Wait::time)
            break;
        now = Now();
        if (onDialog)
        {
            std::vector<DialogWindow> windows = DialogWindowsOf(s.processId);
            bool same = windows.size() == shown.size();
            for (size_t i = 0; same && i < windows.size(); i++)
                same = windows[i].title == shown[i].title && windows[i].text == shown[i].text;
            if (!same)
            {
                shown = windows;
                onDialog(windows);
            }
        }
        if (now < deadline)
            continue;
        // Out of time, but a new dump in the folder means a crash in
        // progress, not a hang: wait for the server to finish it and end.
        if (now < dumpCap && s.DumpStarted())
            continue;
        break;
    }

    outcome.lines = s.TakeLines(end);
    for (const std::string& line : outcome.lines)
        if (line.compare(0, protocol::SurvivedCrashLine.size(), protocol::SurvivedCrashLine) == 0)
            outcome.survivedCrashes.push_back(line.substr(protocol::WarnTag.size()));
    // Whatever ends the request takes the dialogs with it.
    if (onDialog && !shown.empty())
        onDialog({});
    if (wait == Impl::Wait::time)
    {
        outcome.phase = LastPhase(outcome.lines);
        outcome.windows = DialogWindowsOf(s.processId);
        s.Terminate();
        s.Close();
        outcome.status = Status::timeout;
        outcome.error = "no answer within " + std::to_string(s.config.timeoutMs) + " ms";
        if (!outcome.windows.empty())
            outcome.error += ", waiting on dialog " + DialogText(outcome.windows);
        return finish();
    }
    if (wait == Impl::Wait::ended)
    {
        outcome.phase = LastPhase(outcome.lines);
        s.EndedOutcome(&outcome, "during the request");
        return finish();
    }

    std::string block;
    for (const std::string& l : outcome.lines)
        if (protocol::HasTag(l, protocol::ReportTag))
            block += l.substr(protocol::ReportTag.size()) + "\n";
    std::string error = block.empty() ? "answer without a report block" : "";
    bool read = !block.empty();
    if (read && answer == Answer::vst2)
    {
        PluginReport report;
        if ((read = ParseReport(block, &report, &error)))
        {
            outcome.error = report.error;
            outcome.report = std::move(report);
        }
    }
    else if (read && answer == Answer::vst3Module)
    {
        Vst3ModuleReport report;
        if ((read = ParseVst3ModuleReport(block, &report, &error)))
        {
            outcome.error = report.error;
            outcome.phase = report.phase;
            outcome.vst3Module = std::move(report);
        }
    }
    else if (read && (answer == Answer::vst3Free || answer == Answer::clapFree))
    {
        FreeReport report;
        if ((read = ParseFreeReport(block, answer == Answer::clapFree ? "clap" : "vst3", &report, &error)))
        {
            outcome.error = report.error;
            outcome.phase = report.phase;
        }
    }
    else if (read && answer == Answer::clapModule)
    {
        ClapModuleReport report;
        if ((read = ParseClapModuleReport(block, &report, &error)))
        {
            outcome.error = report.error;
            outcome.phase = report.phase;
            outcome.clapModule = std::move(report);
        }
    }
    else if (read && answer == Answer::clapPlugin)
    {
        ClapPluginReport report;
        // Out of memory the server cannot repeat the ID: a failure, not
        // an answer out of step.
        if ((read = ParseClapPluginReport(block, &report, &error)) && report.id != pluginId &&
            !(report.id.empty() && !report.error.empty()))
        {
            read = false;
            error = "answer for plugin '" + report.id + "' to a request for plugin '" + pluginId + "'";
        }
        else if (read)
        {
            outcome.error = report.error;
            outcome.phase = report.phase;
            outcome.clapPlugin = std::move(report);
        }
    }
    else if (read)
    {
        Vst3ClassReport report;
        if ((read = ParseVst3ClassReport(block, &report, &error)) && report.classId != pluginId)
        {
            read = false;
            error = "answer for class " + report.classId + " to a request for class " + pluginId;
        }
        else if (read)
        {
            outcome.error = report.error;
            outcome.phase = report.phase;
            outcome.vst3Class = std::move(report);
        }
    }
    if (!read && answer != Answer::vst2)
    {
        // A server out of memory answers any request with the failed
        // block of the VST 2 form: a failure like any other.
        PluginReport fallback;
        if (!block.empty() && ParseReport(block, &fallback, nullptr) && !fallback.error.empty())
        {
            outcome.status = Status::failed;
            outcome.error = fallback.error;
            outcome.phase = LastPhase(outcome.lines);
            return finish();
        }
    }
    if (!read)
    {
        // The exchange is out of step: end this server, the next request
        // starts a fresh one.
        outcome.status = Status::lost;
        outcome.error = error;
        outcome.phase = LastPhase(outcome.lines);
        outcome.exitCode = s.Shutdown();
        return finish();
    }
    outcome.status = outcome.error.empty() ? Status::ok : Status::failed;
    return finish();
}

} // namespace orvanta
