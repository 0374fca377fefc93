// What the client library tests share beyond the support library: server
// configurations for the real server and the stand-in one, with their dumps
// in a test's scratch folder, and a count of lines in an answer.
#pragma once
#include "scan_server.h"
#include "scratch_folder.h"
#include <string>
#include <vector>

namespace clienttest {

// The real server, dumps into scratch\dumps, the given time limit.
orvanta::ServerConfig RealServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs = 60000);
// The stand-in server of tests/support/fake_server.cpp.
orvanta::ServerConfig FakeServer(const testsupport::ScratchFolder& scratch, uint32_t timeoutMs = 60000);

// How many of the lines equal the given one.
int CountLines(const std::vector<std::string>& lines, const std::string& line);

} // namespace clienttest
