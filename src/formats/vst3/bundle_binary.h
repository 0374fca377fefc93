// Where a VST3 module's code is: a bundle folder NAME.vst3 keeps its 64-bit
// binary at NAME.vst3\Contents\x86_64-win\NAME.vst3; a single file NAME.vst3
// (the older layout) is itself the binary.
#pragma once
#include <string>
#include <vector>

namespace orvanta {

// Where a bundle keeps its binary: BUNDLE\Contents\x86_64-win\NAME, NAME the
// bundle folder's own name (whether or not the file is there). With x86Too,
// a bundle without that file but with BUNDLE\Contents\x86-win\NAME (a
// bundle for 32-bit hosts) gives that one: a bundle holding both is the
// 64-bit module a 64-bit host loads.
std::wstring Vst3BundleBinary(const std::wstring& bundle, bool x86Too = false);

// The binary of the module at path, which is set in either case: the file
// found, or for a bundle without it the file that was expected. False, with
// the reason for people, for a bundle that has no x64 binary of its own name
// ("bundle has no x64 binary: expected Contents\x86_64-win\NAME.vst3"). A
// path that is not a folder is taken as the binary as it stands: whether it
// loads is the server's to say.
// A bundle that holds binaries for other machines only names them:
// "...; it holds only a binary for another machine: Contents\x86-win\NAME
// (x86, 32-bit)". With x86Too (a 32-bit server scans x86 modules), a bundle
// whose only binary is its x86-win one gives that binary.
bool FindVst3Binary(const std::wstring& path, std::wstring* binary, std::string* error, bool x86Too = false);

// The binary folders under a bundle's Contents that hold a file of the
// bundle's name, of "x86_64-win", "x86-win", "arm64-win", "arm64ec-win"
// and "arm64x-win", in that order; empty for a path that is no folder.
std::vector<std::string> Vst3BundleArchitectures(const std::wstring& bundle);

} // namespace orvanta
