// Module files on disk: their size and last write, as the database keeps them.
#pragma once
#include "formats/vst3/bundle_binary.h"
#include "orvanta/database.h"
#include <cstdint>
#include <string>

namespace orvanta {

// A file time (100 ns units since 1601, UTC) as "2026-12-08T13:41:15.250Z".
// Milliseconds are the precision kept: a file rewritten within the same
// millisecond with the same size counts as unchanged.
std::string FileTimeText(uint64_t fileTime);
// The file as it is now; false when it cannot be read. A VST3 bundle folder
// is read as FindModules reads it (its binary's size, its newest file).
bool StatModuleFile(const std::wstring& path, ModuleFile* file);


} // namespace orvanta
