// What a minidump says about a crash.
#pragma once
#include "orvanta/scan.h"
#include <string>

namespace orvanta {

// Reads the exception and module-list streams of a minidump file into
// exceptionCode, address, faultingModule and dumpPath; false with the
// reason for a file that is not a readable dump.
bool ReadCrashDump(const std::wstring& dumpPath, CrashInfo* info, std::string* error);

} // namespace orvanta
