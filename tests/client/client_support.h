// What the client library tests share beyond the support library: server
// configurations for the real server and the stand-in one (answering by
// the request's text, or playing a script), with their dumps
// in a test's scratch folder, a database entry, and a count of lines in an
// answer.
#pragma once
#include "server_process/scan_server.h"
#include <orvanta/database.h>
#include "scratch_folder.h"
#include <string>
#include <vector>

namespace clienttest {

// The real server, dumps into scratch\dumps, the given time limit.
orvanta::ServerConfig RealServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs = 60000);
// RealServer with the 32-bit server beside it (bin\scanserver32.exe).
orvanta::ServerConfig BothServers(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs = 60000);
// The stand-in server of tests/support/fake_server.cpp.
orvanta::ServerConfig FakeServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs = 60000);
// The stand-in server playing a script (testsupport::PlayServerScript) from
// scratch\server.script, each "BINARY" in it replaced by binary.
orvanta::ServerConfig ScriptedServer(const testsupport::ScratchFolder& scratch, const std::string& script,
                                     const std::wstring& binary = L"", uint32_t timeoutMs = 60000);
// The request lines the scripted servers got, in order.
std::vector<std::string> ScriptedRequests(const testsupport::ScratchFolder& scratch);

// A database entry as a scan of one module leaves it: 4096 bytes, written
// 2026-12-08T13:41:15.250Z, one attempt of 42 ms, no plugins.
orvanta::ModuleRecord ScannedRecord(const std::wstring& path, orvanta::Status status = orvanta::Status::ok);

// How many of the lines equal the given one.
int CountLines(const std::vector<std::string>& lines, const std::string& line);

} // namespace clienttest
