// Where a VST3 module's code is: a bundle folder NAME.vst3 keeps its 64-bit
// binary at NAME.vst3\Contents\x86_64-win\NAME.vst3; a single file NAME.vst3
// (the older layout) is itself the binary.
#pragma once
#include <string>

namespace orvanta {

// Where a bundle keeps its binary: BUNDLE\Contents\x86_64-win\NAME, NAME the
// bundle folder's own name (whether or not the file is there).
std::wstring Vst3BundleBinary(const std::wstring& bundle);

// The binary of the module at path, which is set in either case: the file
// found, or for a bundle without it the file that was expected. False, with
// the reason for people, for a bundle that has no x64 binary of its own name
// ("bundle has no x64 binary: expected Contents\x86_64-win\NAME.vst3"). A
// path that is not a folder is taken as the binary as it stands: whether it
// loads is the server's to say.
bool FindVst3Binary(const std::wstring& path, std::wstring* binary, std::string* error);

} // namespace orvanta
