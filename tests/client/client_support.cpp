#include "client_support.h"
#include "build_paths.h"
#include "machines.h"
#include "pipe_host.h"
#include "server_script.h"
#include "text.h"

namespace clienttest {

orvanta::ServerConfig RealServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config;
    config.serverExe = testsupport::ServerExePath();
    config.dumpFolder = scratch / L"dumps";
    config.timeoutMs = timeoutMs;
    return config;
}

orvanta::ServerConfig BothServers(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config = RealServer(scratch, timeoutMs);
    config.x86ServerExe = testsupport::X86ServerPath();
    return config;
}

orvanta::ServerConfig FakeServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config = RealServer(scratch, timeoutMs);
    config.serverExe = testsupport::BinPath(L"fakeserver.exe");
    testsupport::StopServerScript();
    return config;
}

orvanta::ServerConfig ScriptedServer(const testsupport::ScratchFolder& scratch, const std::string& script,
                                     const std::wstring& binary, uint32_t timeoutMs)
{
    orvanta::ServerConfig config = FakeServer(scratch, timeoutMs);
    testsupport::PlayServerScript(scratch / L"server.script", script, testsupport::Utf8(binary));
    return config;
}

std::vector<std::string> ScriptedRequests(const testsupport::ScratchFolder& scratch)
{
    return testsupport::ScriptRequests(scratch / L"server.script");
}

int CountLines(const std::vector<std::string>& lines, const std::string& line)
{
    int count = 0;
    for (const std::string& l : lines)
        count += l == line;
    return count;
}

orvanta::ModuleRecord ScannedRecord(const std::wstring& path, orvanta::Status status)
{
    orvanta::ModuleRecord record;
    record.size = 4096;
    record.modified = "2026-12-08T13:41:15.250Z";
    record.result.path = path;
    record.result.status = status;
    record.result.attempts = 1;
    record.result.scanMs = 42;
    return record;
}

} // namespace clienttest
