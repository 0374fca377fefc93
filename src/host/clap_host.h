// The host record the server hands to every CLAP plugin it creates: its
// name and version, no extensions, and requests that do nothing. One record
// lives as long as the process: plugins may keep the pointer, and threads
// they leave behind may still call it.
#pragma once
#include "clap_abi.h"

const Clap::clap_host* ClapHost();
