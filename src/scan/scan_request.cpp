#include "scan_request.h"
#include "clap_presets_probe.h"
#include "clap_probe.h"
#include "report_lines.h"
#include "vst2_probe.h"
#include "vst2_report.h"
#include "vst3_probe.h"

void HandleScanRequest(const wchar_t* request)
{
    // A request line that could not be made (out of memory) has no format
    // yet: nothing to read, but the host still gets its one report for the
    // line, in the VST 2 shape every host reads.
    if (!request)
        WriteVst2OutOfMemory(RequestNoMemoryText);
    else if (IsVst3Request(request))
        HandleVst3Request(request);
    else if (IsClapRequest(request))
        HandleClapRequest(request);
    else if (IsClapPresetsRequest(request))
        HandleClapPresetsRequest(request);
    else
        HandleVst2Request(request);
}

void HandleOversizedRequest()
{
    CVst2PluginInfo info;
    info.error = Format(L"Request line longer than %i bytes, not scanned", MaxRequestBytes);
    if (info.error.IsNull())
        WriteVst2OutOfMemory(ReportNoMemoryText);
    else
        WriteVst2Report(info, true);
}
