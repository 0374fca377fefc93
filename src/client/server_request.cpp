// One request: the line written, the answer waited for within the time
// limit while the server's windows are watched for a dialog, and the
// answer classified.
#include "protocol.h"
#include "report_parser.h"
#include "scan_server_impl.h"
#include "dialog_windows.h"
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

    std::string line = ToUtf8(path);
    if (shellId)
        line += protocol::SubPluginSeparator + HexId(*shellId);
    line += "\n";
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
    // Whatever ends the request takes the dialogs with it.
    if (onDialog && !shown.empty())
        onDialog({});
    if (wait == Impl::Wait::time)
    {
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
        s.EndedOutcome(&outcome, "during the request");
        return finish();
    }

    std::string block;
    for (const std::string& l : outcome.lines)
        if (protocol::HasTag(l, protocol::ReportTag))
            block += l.substr(protocol::ReportTag.size()) + "\n";
    PluginReport report;
    std::string error;
    if (block.empty() || !ParseReport(block, &report, &error))
    {
        // The exchange is out of step: end this server, the next request
        // starts a fresh one.
        outcome.status = Status::lost;
        outcome.error = block.empty() ? "answer without a report block" : error;
        outcome.exitCode = s.Shutdown();
        return finish();
    }
    outcome.status = report.error.empty() ? Status::ok : Status::failed;
    outcome.error = report.error;
    outcome.report = std::move(report);
    return finish();
}

} // namespace orvanta
