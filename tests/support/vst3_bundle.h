// VST3 bundle folders as a test lays them out: the binary
// NAME.vst3\Contents\x86_64-win\NAME.vst3 and the file
// NAME.vst3\Contents\Resources\moduleinfo.json.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// value as that many bytes, least significant first.
std::string LittleEndian(uint64_t value, int bytes);
// The bytes of a .vstpreset file: the 48-byte header ("VST3", version, the
// class ID as given, the chunk list's offset 48), the chunk list right
// after it, then the chunks' bytes in the order given ({"Info", xml}, ...).
std::string Vst3PresetBytes(const std::string& classId,
                            const std::vector<std::pair<std::string, std::string>>& chunks, uint32_t version = 1);

} // namespace testsupport
