#include "clap_host.h"

#ifndef ORVANTA_SERVER_VERSION
#define ORVANTA_SERVER_VERSION ""
#endif

namespace {

// The server offers no extension: a scan never activates or processes.
const void* GetExtension(const Clap::clap_host*, const char*) { return nullptr; }
// Requests are answered from any thread and change nothing.
void Ignore(const Clap::clap_host*) {}

const Clap::clap_host Host = {
    {1, 2, 2}, nullptr, "Orvanta Plugin Scanner", "Orvanta", "", ORVANTA_SERVER_VERSION,
    GetExtension, Ignore, Ignore, Ignore,
};

} // namespace

const Clap::clap_host* ClapHost() { return &Host; }
