// How a server ended: cleanly, by a crash in plugin code (exit code 9 and
// a dump), or lost.
#include "server_process/crash_dump_reader.h"
#include "exchange/exchange_text.h"
#include "server_process/scan_server_impl.h"
#include "orvanta/text.h"

namespace orvanta {

static_assert(ServerCrashExitCode == ExchangeText::CrashExitCode, "the public exit code is the server's");

namespace {

// "crashed during the request: exception 0xC0000005 in C:\...\x.dll", or
// with the reason the dump says nothing.
std::string CrashText(const char* when, const CrashInfo& crash)
{
    std::string text = std::string("crashed ") + when;
    if (!crash.dumpError.empty())
        return text + " (" + crash.dumpError + ")";
    text += ": exception 0x" + HexId(crash.exceptionCode);
    if (!crash.faultingModule.empty())
        text += " in " + crash.faultingModule;
    return text;
}

} // namespace

// The server closed its output before the next "ready:": a crash (exit
// code 9, with its dump) or a lost server.
void ScanServer::Impl::EndedOutcome(RequestOutcome* outcome, const char* when)
{
    int code = -1;
    if (!Exited(ExitWaitMs, &code))
    {
        Terminate();
        Close();
        outcome->status = Status::lost;
        outcome->error = std::string("the server closed its output ") + when +
                         " but did not end";
        return;
    }
    outcome->exitCode = code;
    if (code == ServerCrashExitCode)
    {
        outcome->status = Status::crashed;
        CrashInfo crash;
        std::wstring dumps = BareFolder(config.dumpFolder);
        std::wstring dump = dumps.empty() ? std::wstring() : NewestNewFile(dumps, dumpsBefore);
        if (dump.empty())
            crash.dumpError = "no dump file found";
        else
        {
            std::string why;
            if (!ReadCrashDump(dump, &crash, &why))
            {
                crash = CrashInfo();
                crash.dumpError = why;
            }
            crash.dumpPath = ToUtf8(dump);
        }
        outcome->error = CrashText(when, crash);
        outcome->crash = std::move(crash);
    }
    else
    {
        outcome->status = Status::lost;
        outcome->error = std::string("the server ended ") + when + " with exit code " +
                         std::to_string(code);
    }
    Close();
}

bool ScanServer::Stop()
{
    if (!m_impl->process)
        return true;
    return m_impl->Shutdown() != -1;
}

RequestOutcome ScanServer::Finish()
{
    Impl& s = *m_impl;
    RequestOutcome outcome;
    outcome.status = Status::ok;
    if (!s.process)
        return outcome;
    if (s.cancelled)
    {
        // Cancelled: no waiting for a clean end.
        s.Terminate();
        s.Close();
        return outcome;
    }
    uint64_t started = Now();
    if (s.toServer)
        CloseHandle(s.toServer);
    s.toServer = nullptr;
    // A server whose plugin thread crashed while it waited writes its dump
    // before it ends, however long that takes.
    int code = -1;
    bool ended = false;
    while (!(ended = s.Exited(PollMs, &code)))
    {
        uint64_t waited = Now() - started;
        if (waited >= (s.DumpStarted() ? DumpWaitCapMs : ExitWaitMs))
            break;
    }
    outcome.elapsedMs = (uint32_t)(Now() - started);
    if (!ended)
    {
        s.Terminate();
        s.Close();
        outcome.status = Status::lost;
        outcome.error = "the server did not end when its requests ended";
        return outcome;
    }
    if (code == 0)
    {
        outcome.exitCode = 0;
        s.Close();
        return outcome;
    }
    s.EndedOutcome(&outcome, "after its last answer");
    return outcome;
}

bool ScanServer::Impl::DumpStarted() const
{
    std::wstring dumps = BareFolder(config.dumpFolder);
    return !dumps.empty() && !NewestNewFile(dumps, dumpsBefore).empty();
}

} // namespace orvanta
