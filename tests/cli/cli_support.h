// What the orvanta-scan tests share beyond the support library: the real
// tool, run as a child process with its output captured.
#pragma once
#include "processes.h"
#include <string>
#include <vector>

namespace clitest {

// How long a run of the tool may take in a test (CTest's limit is 300 s).
const DWORD ToolTimeoutMs = 280000;

// bin\orvanta-scan.exe
std::wstring ToolPath();
// Runs orvanta-scan.exe with these arguments to its end.
testsupport::ProcessRun RunTool(const std::vector<std::wstring>& args);

// True when the tool's output holds the part.
inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace clitest
