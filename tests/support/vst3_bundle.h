// VST3 bundle folders as a test lays them out: the binary
// NAME.vst3\Contents\x86_64-win\NAME.vst3 and the file
// NAME.vst3\Contents\Resources\moduleinfo.json.
#pragma once
#include <optional>
#include <string>

namespace testsupport {

// Creates folder\name (name ends in ".vst3") with the binary holding these
// bytes (no binary when nullopt) and, when given, a moduleinfo.json in
// Contents\Resources holding moduleInfo. Throws like files.h. The bundle's
// path.
std::wstring MakeBundle(const std::wstring& folder, const std::wstring& name, const std::optional<std::string>& binary,
                        const std::optional<std::string>& moduleInfo = std::nullopt);
// The folder and every missing folder above it (files.h's MakeFolder makes
// one level).
void MakeFolders(const std::wstring& path);

} // namespace testsupport
