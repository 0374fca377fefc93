// orvanta-scan: scans plugin folders to the end with the scan server and
// remembers the results, or lists what the database holds.
#include "blocklist.h"
#include "options.h"
#include "product_list.h"
#include "scan_run.h"
#include "console_text.h"
#include <orvanta/text.h>
#include <windows.h>
#include <shellapi.h>

namespace {

// Servers end with this tool, however it ends: killed while a plugin hangs,
// a server would otherwise never read the end of its request pipe and stay.
void KillServersWithThisProcess()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job, GetCurrentProcess()))
        CloseHandle(job);
    // Otherwise the handle stays open until the process ends, which closes it.
}

} // namespace

int main()
{
    KillServersWithThisProcess();
    // The wide command line: paths with any characters arrive whole.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; wide && i < count; i++)
        args.push_back(orvanta::ToUtf8(wide[i]));
    if (wide)
        LocalFree(wide);

    orvantacli::Options options;
    orvantacli::Command command = orvantacli::ParseOptions(args, &options);
    if (!command.run)
    {
        orvantacli::TextStream(command.exitCode == 0 ? orvantacli::TextStream::out : orvantacli::TextStream::err)
            .Write(command.message);
        return command.exitCode;
    }
    try
    {
        if (options.list)
            return orvantacli::ListProducts(options);
        if (!options.block.empty() || !options.unblock.empty())
            return orvantacli::EditBlocklist(options);
        return orvantacli::RunScan(options);
    }
    catch (const std::exception& e)
    {
        orvantacli::TextStream(orvantacli::TextStream::err).Write(std::string("orvanta-scan: ") + e.what() + "\n");
        return 2;
    }
}
