// The host application object the server hands to VST3 plugins (the
// factory's host context and every instance's initialize): it answers
// queryInterface for FUnknown and IHostApplication, tells its name, and
// makes nothing for a plugin (createInstance is refused). One object lives
// as long as the process: plugins are known to keep a reference after
// everything else is released, and threads they leave behind may still
// call it.
#pragma once
#include "vst3_abi.h"

// The name getName answers.
extern const wchar_t Vst3HostName[];

Vst3::FUnknown* Vst3HostContext();
