// One request: the line written, the answer waited for within the time
// limit while the server's windows are watched for a dialog, and the
// answer classified.
#include "server_process/protocol.h"
#include "formats/vst2/vst2_report_parser.h"
#include "server_process/scan_server_impl.h"
#include "server_process/dialog_windows.h"
#include "client/json_block.h"
#include "orvanta/text.h"
#include <algorithm>
#include <type_traits>

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

RequestOutcome ScanServer::RequestClapPresets(const std::wstring& path, const std::string& providerId,
                                              const DialogFn& onDialog)
{
    std::string line = std::string(protocol::ClapPresetsRequestPrefix) + ToUtf8(path);
    if (!providerId.empty())
        line += protocol::SubPluginSeparator + providerId;
    return Exchange(path, line, providerId.empty() ? Answer::clapProviders : Answer::clapProvider, providerId,
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

// Starts the server when none runs and waits for its first "ready:"; false
// with the outcome filled in when it could not be started.
bool ScanServer::Impl::Start(RequestOutcome* outcome)
{
    if (process)
        return true;
    uint64_t started = Now();
    std::string error;
    if (cancelled || !Launch(&error))
    {
        outcome->status = Status::lost;
        outcome->error = cancelled ? CancelledError : error;
        outcome->cancelled = cancelled;
        return false;
    }
    size_t end = 0;
    uint32_t startLimit = std::max(config.timeoutMs, StartLimitMs);
    Wait wait = WaitReady(started + startLimit, &end);
    std::vector<std::string> lines = TakeLines(end);
    if (!lines.empty() && protocol::HasTag(lines[0], protocol::InfoTag))
        banner = lines[0].substr(protocol::InfoTag.size());
    outcome->lines = lines;
    if (cancelled)
    {
        Terminate();
        Close();
        outcome->status = Status::lost;
        outcome->error = CancelledError;
        outcome->cancelled = true;
        return false;
    }
    if (wait == Wait::time)
    {
        Terminate();
        Close();
        outcome->status = Status::lost;
        outcome->error = "the server did not say ready within " + std::to_string(startLimit) + " ms";
        return false;
    }
    if (wait == Wait::ended)
    {
        EndedOutcome(outcome, "while starting");
        return false;
    }
    return true;
}

// Waits for the answer to the request written at 'requested': until the
// next "ready:", the server's end, the time limit or a cancel. Tells the
// dialogs it shows on the way; a new dump in the folder once the time ran
// out means a crash in progress, not a hang, and is waited for.
ScanServer::Impl::Wait ScanServer::Impl::Await(uint64_t requested, const DialogFn& onDialog, size_t* end)
{
    uint64_t deadline = requested + config.timeoutMs;
    uint64_t dumpCap = deadline + DumpWaitCapMs;
    std::vector<DialogWindow> shown;
    Wait wait;
    for (;;)
    {
        uint64_t now = Now();
        uint64_t until = now + PollMs;
        if (now < deadline && until > deadline)
            until = deadline;
        wait = WaitReady(until, end);
        if (wait != Wait::time || cancelled)
            break;
        now = Now();
        if (onDialog)
        {
            std::vector<DialogWindow> windows = DialogWindowsOf(processId);
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
        if (now < dumpCap && DumpStarted())
            continue;
        break;
    }
    // Whatever ends the request takes the dialogs with it.
    if (onDialog && !shown.empty())
        onDialog({});
    return wait;
}

RequestOutcome ScanServer::Exchange(const std::wstring& path, const std::string& request, Answer answer,
                                    const std::string& pluginId, const DialogFn& onDialog)
{
    Impl& s = *m_impl;
    RequestOutcome outcome;
    uint64_t requested = Now();
    auto finish = [&]() {
        outcome.elapsedMs = (uint32_t)(Now() - requested);
        return outcome;
    };
    if (!s.Start(&outcome))
        return finish();

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

    size_t end = 0;
    Impl::Wait wait = s.Await(requested, onDialog, &end);
    outcome.lines = s.TakeLines(end);
    for (const std::string& line : outcome.lines)
        if (line.compare(0, protocol::SurvivedCrashLine.size(), protocol::SurvivedCrashLine) == 0)
            outcome.survivedCrashes.push_back(line.substr(protocol::WarnTag.size()));
    if (s.cancelled && wait != Impl::Wait::ready)
    {
        // Cancelled: whatever the server was doing, it is ended now.
        outcome.phase = LastPhase(outcome.lines);
        s.Terminate();
        s.Close();
        outcome.status = Status::lost;
        outcome.error = CancelledError;
        outcome.cancelled = true;
        return finish();
    }
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
    ReadAnswer(answer, pluginId, &outcome);
    return finish();
}

namespace {

// The report block of an answer: its ">:" lines without their tag.
std::string ReportBlock(const std::vector<std::string>& lines)
{
    std::string block;
    for (const std::string& l : lines)
        if (protocol::HasTag(l, protocol::ReportTag))
            block += l.substr(protocol::ReportTag.size()) + "\n";
    return block;
}

// Takes a parsed block's error and phase into the outcome.
template <typename Report>
void TakeReport(Report&& report, std::optional<std::decay_t<Report>>* slot, RequestOutcome* outcome)
{
    outcome->error = report.error;
    outcome->phase = report.phase;
    *slot = std::move(report);
}

} // namespace

// Reads the report block of an answer that came in full, by the kind of
// request; an answer that does not read is out of step and ends the server.
void ScanServer::ReadAnswer(Answer answer, const std::string& pluginId, RequestOutcome* outcome)
{
    std::string block = ReportBlock(outcome->lines);
    std::string error = block.empty() ? "answer without a report block" : "";
    bool read = !block.empty();
    if (read && answer == Answer::vst2)
    {
        Vst2Report report;
        if ((read = ParseVst2Report(block, &report, &error)))
        {
            outcome->error = report.error;
            outcome->report = std::move(report);
        }
    }
    else if (read && answer == Answer::vst3Module)
    {
        Vst3ModuleReport report;
        if ((read = ParseVst3ModuleReport(block, &report, &error)))
            TakeReport(std::move(report), &outcome->vst3Module, outcome);
    }
    else if (read && (answer == Answer::vst3Free || answer == Answer::clapFree))
    {
        FreeReport report;
        if ((read = ParseFreeReport(block, answer == Answer::clapFree ? "clap" : "vst3", &report, &error)))
        {
            outcome->error = report.error;
            outcome->phase = report.phase;
        }
    }
    else if (read && answer == Answer::clapModule)
    {
        ClapModuleReport report;
        if ((read = ParseClapModuleReport(block, &report, &error)))
            TakeReport(std::move(report), &outcome->clapModule, outcome);
    }
    else if (read && answer == Answer::clapProviders)
    {
        ClapProviderList report;
        if ((read = ParseClapProviderList(block, &report, &error)))
            TakeReport(std::move(report), &outcome->clapProviders, outcome);
    }
    else if (read && answer == Answer::clapProvider)
    {
        ClapProviderReport report;
        if ((read = ParseClapProviderReport(block, &report, &error)) && report.provider != pluginId &&
            !(report.provider.empty() && !report.error.empty()))
        {
            read = false;
            error = "answer for provider '" + report.provider + "' to a request for provider '" + pluginId + "'";
        }
        else if (read)
            TakeReport(std::move(report), &outcome->clapProvider, outcome);
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
            TakeReport(std::move(report), &outcome->clapPlugin, outcome);
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
            TakeReport(std::move(report), &outcome->vst3Class, outcome);
    }
    if (!read && answer != Answer::vst2)
    {
        // A server out of memory answers any request with the failed
        // block of the VST 2 form: a failure like any other.
        Vst2Report fallback;
        if (!block.empty() && ParseVst2Report(block, &fallback, nullptr) && !fallback.error.empty())
        {
            outcome->status = Status::failed;
            outcome->error = fallback.error;
            outcome->phase = LastPhase(outcome->lines);
            return;
        }
    }
    if (!read)
    {
        // The exchange is out of step: end this server, the next request
        // starts a fresh one.
        outcome->status = Status::lost;
        outcome->error = error;
        outcome->phase = LastPhase(outcome->lines);
        outcome->exitCode = m_impl->Shutdown();
        return;
    }
    outcome->status = outcome->error.empty() ? Status::ok : Status::failed;
}

void ScanServer::Cancel()
{
    Impl& s = *m_impl;
    s.cancelled = true;
    std::lock_guard<std::mutex> hold(s.processLock);
    if (s.process)
        TerminateProcess(s.process, 1);
}

bool ScanServer::Cancelled() const
{
    return m_impl->cancelled;
}

} // namespace orvanta
