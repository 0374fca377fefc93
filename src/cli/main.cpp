// orvanta-scan: scans plugin folders to the end with the scan server and
// remembers the results.
#include "options.h"
#include "scan_run.h"
#include "console_text.h"
#include "text_convert.h"
#include <windows.h>
#include <shellapi.h>

int main()
{
    // The wide command line: paths with any characters arrive whole.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; wide && i < count; i++)
        args.push_back(orvanta::ToUtf8(wide[i]));
    if (wide)
        LocalFree(wide);

    orvantacli::Options options;
    std::string message;
    int code = orvantacli::ParseOptions(args, &options, &message);
    if (code >= 0)
    {
        orvantacli::TextStream(code == 0 ? orvantacli::TextStream::out : orvantacli::TextStream::err).Write(message);
        return code;
    }
    try
    {
        return orvantacli::RunScan(options);
    }
    catch (const std::exception& e)
    {
        orvantacli::TextStream(orvantacli::TextStream::err).Write(std::string("orvanta-scan: ") + e.what() + "\n");
        return 2;
    }
}
