#include "vst3_bundle.h"
#include "files.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace testsupport {

void MakeFolders(const std::wstring& path)
{
    if (path.empty() || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0)
        MakeFolders(path.substr(0, slash));
    MakeFolder(path);
}

std::wstring MakeBundle(const std::wstring& folder, const std::wstring& name, const std::optional<std::string>& binary,
                        const std::optional<std::string>& moduleInfo)
{
    std::wstring bundle = folder + L"\\" + name;
    MakeFolders(bundle + L"\\Contents\\x86_64-win");
    if (binary)
        WriteWholeFile(bundle + L"\\Contents\\x86_64-win\\" + name, *binary);
    if (moduleInfo)
    {
        MakeFolders(bundle + L"\\Contents\\Resources");
        WriteWholeFile(bundle + L"\\Contents\\Resources\\moduleinfo.json", *moduleInfo);
    }
    return bundle;
}

std::string LittleEndian(uint64_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; i++)
        text += (char)(value >> (8 * i) & 0xFF);
    return text;
}

std::string Vst3PresetBytes(const std::string& classId,
                            const std::vector<std::pair<std::string, std::string>>& chunks, uint32_t version)
{
    std::string list = "List" + LittleEndian(chunks.size(), 4), data;
    uint64_t at = 48 + 8 + 20 * chunks.size();
    for (const auto& chunk : chunks)
    {
        list += chunk.first + LittleEndian(at + data.size(), 8) + LittleEndian(chunk.second.size(), 8);
        data += chunk.second;
    }
    return "VST3" + LittleEndian(version, 4) + classId + LittleEndian(48, 8) + list + data;
}

} // namespace testsupport
