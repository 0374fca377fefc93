// VST3 requests: "vst3|PATH" (the module request: factory and classes),
// "vst3|PATH>CID" (the class request: one instance's buses) and "vst3|"
// alone (the free request), phase by phase (docs/protocol.md, "VST3
// modules").
#pragma once

// True for a line that starts with "vst3|".
bool IsVst3Request(const wchar_t* request);
// Writes every log line and the report block of one VST3 request.
void HandleVst3Request(const wchar_t* request);
