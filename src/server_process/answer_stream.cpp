// The server's answer stream: a reader thread that keeps reading, so the
// server's per-line flush never blocks, and the lines up to each "ready:".
#include "server_process/protocol.h"
#include "server_process/scan_server_impl.h"
#include <chrono>

namespace orvanta {

DWORD WINAPI ScanServer::Impl::ReadLoop(void* param)
{
    Impl* self = static_cast<Impl*>(param);
    std::string chunk(65536, '\0');
    for (;;)
    {
        DWORD got = 0;
        BOOL ok = ReadFile(self->fromServer, &chunk[0], (DWORD)chunk.size(), &got, nullptr);
        {
            std::lock_guard<std::mutex> hold(self->lock);
            if (ok && got)
                self->buffer.append(chunk.data(), got);
            else
                self->eof = true;
        }
        self->changed.notify_all();
        if (!ok || !got)
            return 0;
    }
}

size_t ScanServer::Impl::FindReady() const
{
    size_t at = consumed;
    while (at < buffer.size())
    {
        size_t lineEnd = buffer.find('\n', at);
        if (lineEnd == std::string::npos)
            return std::string::npos;
        if (buffer.compare(at, lineEnd - at, protocol::ReadyLine) == 0)
            return lineEnd + 1;
        at = lineEnd + 1;
    }
    return std::string::npos;
}

ScanServer::Impl::Wait ScanServer::Impl::WaitReady(uint64_t until, size_t* end)
{
    std::unique_lock<std::mutex> hold(lock);
    for (;;)
    {
        size_t found = FindReady();
        if (found != std::string::npos)
        {
            *end = found;
            return Wait::ready;
        }
        if (eof)
        {
            *end = buffer.size();
            return Wait::ended;
        }
        uint64_t now = Now();
        if (now >= until)
        {
            *end = buffer.size();
            return Wait::time;
        }
        changed.wait_for(hold, std::chrono::milliseconds(until - now));
    }
}

// The lines from the consumed point up to 'end', without their line feeds
// and without the closing "ready:" line; a last line cut off by the end of
// the server is kept as it arrived.
std::vector<std::string> ScanServer::Impl::TakeLines(size_t end)
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> lines;
    size_t at = consumed;
    while (at < end)
    {
        size_t lineEnd = buffer.find('\n', at);
        if (lineEnd == std::string::npos || lineEnd >= end)
        {
            lines.push_back(buffer.substr(at, end - at));
            break;
        }
        lines.push_back(buffer.substr(at, lineEnd - at));
        at = lineEnd + 1;
    }
    consumed = end;
    if (!lines.empty() && lines.back() == protocol::ReadyLine)
        lines.pop_back();
    return lines;
}
} // namespace orvanta
