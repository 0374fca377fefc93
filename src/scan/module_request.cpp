#include "module_request.h"
#include "report_lines.h"
#include "../base/log_output.h"
#include "../base/message_pump.h"
#include "../crash/crash_dump.h"
#include "../exchange/exchange_text.h"
#include "../splash/splash_window.h"

const wchar_t* SkipPrefix(const wchar_t* request, const char* prefix)
{
    for (; *prefix; prefix++, request++)
        if (*request != (wchar_t)(unsigned char)*prefix)
            return nullptr;
    return request;
}

CSharedString SplitModuleRequest(const wchar_t* request, const wchar_t** subPlugin)
{
    const wchar_t* mark = request;
    while (*mark && *mark != (wchar_t)ExchangeText::SubPluginSeparator)
        mark++;
    *subPlugin = *mark ? mark + 1 : nullptr;
    return CSharedString(request, (int)(mark - request));
}

bool ReuseCachedModule(const wchar_t* path, ModuleFormat format)
{
    if (CacheHolds(path, format))
    {
        LogInfo(L"Re-using previous library instance...\n");
        return true;
    }
    FlushLibraryCache();
    return false;
}

HMODULE LoadModule(const wchar_t* path, CSharedString& error)
{
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        error = Format(L"%S%i", ExchangeText::LoadFailedError, (int)GetLastError());
    return module;
}

void ActivateBadge()
{
    SetUnhandledExceptionFilter(CrashFilter);
    SetActiveWindow(SplashWindow);
    PumpMessages();
}

void AnswerFreeRequest(const char* format)
{
    LogInfo(L"Freeing the cached module on request...\n");
    FlushLibraryCache();
    LogInfo(L"Finished\n");
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"", format, "\",\n");
    WriteFixedReportLine("  \"error\": \"\",\n");
    WriteFixedReportLine("  \"phase\": \"\"\n");
    WriteFixedReportLine("}\n");
}
