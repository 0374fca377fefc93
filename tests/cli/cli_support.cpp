#include "cli_support.h"
#include "build_paths.h"

namespace clitest {

std::wstring ToolPath()
{
    return testsupport::BinPath(L"orvanta-scan.exe");
}

testsupport::ProcessRun RunTool(const std::vector<std::wstring>& args)
{
    return testsupport::RunCaptured(ToolPath(), args, ToolTimeoutMs);
}

} // namespace clitest
