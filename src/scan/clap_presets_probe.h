// CLAP presets requests: "clap-presets|PATH" (the provider list: the
// module's preset-discovery factory and its providers' descriptors) and
// "clap-presets|PATH>ID" (one provider: what its init declares and the
// presets its get_metadata gives for each location), phase by phase
// (docs/protocol.md, "CLAP presets"). They share the CLAP module request's
// loading and its one cached module.
#pragma once

// True for a line that starts with "clap-presets|".
bool IsClapPresetsRequest(const wchar_t* request);
// Writes every log line and the report block of one presets request.
void HandleClapPresetsRequest(const wchar_t* request);
