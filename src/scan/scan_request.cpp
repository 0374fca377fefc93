#include "scan_request.h"
#include "../app/log_output.h"

// Scanning is not wired in yet: the request is only logged.
void HandleScanRequest(const wchar_t* request)
{
    LogInfo(L"Scanning plugin: '%s'\n", request);
}
void HandleOversizedRequest() { LogError(L"%s\n", L"Request line too long"); }
void FlushLibraryCache() {}
