// One request line, handed to the probe of its format: "vst3|..." to the
// VST3 probe, "clap|..." to the CLAP probe, "clap-presets|..." to the CLAP
// presets probe, any other line (a plain path or "vst2|...") to the VST 2
// probe.
#pragma once

// The longest request line the server assembles when a line does not fit
// in one read; longer lines are answered with an error report.
const int MaxRequestBytes = 128 * 1024;

// Writes every log line and the report block of one request. A null
// request (the request loop ran out of memory) gets an error report.
void HandleScanRequest(const wchar_t* request);
// A request line longer than the server assembles: error line and report.
void HandleOversizedRequest();
