#include "client_support.h"
#include "build_paths.h"
#include "pipe_host.h"

namespace clienttest {

orvanta::ServerConfig RealServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config;
    config.serverExe = testsupport::ServerExePath();
    config.dumpFolder = scratch / L"dumps";
    config.timeoutMs = timeoutMs;
    return config;
}

orvanta::ServerConfig FakeServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config = RealServer(scratch, timeoutMs);
    config.serverExe = testsupport::BinPath(L"fakeserver.exe");
    return config;
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
