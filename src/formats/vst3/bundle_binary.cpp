// Resolving a VST3 bundle to its binary before any server sees it: a bundle
// that lacks its x64 binary, or holds one under another name, is refused
// here with what was found, since loading it could only fail.
#include "formats/vst3/bundle_binary.h"
#include "orvanta/paths.h"
#include "orvanta/scan.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>
#include <vector>

namespace orvanta {
namespace {

const wchar_t BinaryFolder[] = L"Contents\\x86_64-win";
// A bundle made for 32-bit hosts keeps its binary here instead.
const wchar_t X86BinaryFolder[] = L"Contents\\x86-win";

// The binary folders a bundle may hold, and the machine each is for.
struct ArchitectureFolder
{
    const char* folder;
    const char* machine;
};
const ArchitectureFolder ArchitectureFolders[] = {{"x86_64-win", "x64"},
                                                  {"x86-win", "x86, 32-bit"},
                                                  {"arm64-win", "arm64"},
                                                  {"arm64ec-win", "arm64ec"},
                                                  {"arm64x-win", "arm64x"}};

std::wstring TrimmedBundle(const std::wstring& path)
{
    std::wstring folder = path;
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

bool IsFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The names of the files (not folders) directly in a folder.
std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

} // namespace

std::wstring Vst3BundleBinary(const std::wstring& bundle, bool x86Too)
{
    std::wstring folder = TrimmedBundle(bundle);
    std::wstring binary = folder + L"\\" + BinaryFolder + L"\\" + FileNameOf(folder);
    if (x86Too && GetFileAttributesW(binary.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        std::wstring x86 = folder + L"\\" + X86BinaryFolder + L"\\" + FileNameOf(folder);
        if (IsFile(x86))
            return x86;
    }
    return binary;
}

bool FindVst3Binary(const std::wstring& path, std::wstring* binary, std::string* error, bool x86Too)
{
    std::wstring bundle = TrimmedBundle(path);
    DWORD attributes = GetFileAttributesW(bundle.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        *binary = path;
        return true;
    }
    std::wstring name = FileNameOf(bundle);
    std::wstring folder = bundle + L"\\" + BinaryFolder;
    *binary = Vst3BundleBinary(bundle, x86Too);
    if (x86Too && IsFile(*binary))
        return true;
    std::string expected = "bundle has no x64 binary: expected " + ToUtf8(BinaryFolder) + "\\" + ToUtf8(name);
    DWORD found = GetFileAttributesW(binary->c_str());
    if (found != INVALID_FILE_ATTRIBUTES && !(found & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    if (found != INVALID_FILE_ATTRIBUTES)
    {
        *error = expected + ", which is a folder";
        return false;
    }
    // Say what is there instead: a binary under another name is the usual
    // fault of a hand-copied bundle.
    std::vector<std::string> others;
    for (const std::wstring& file : FilesIn(folder))
    {
        if (FormatOfPath(file) == PluginFormat::vst3)
            others.push_back(ToUtf8(file));
    }
    if (!others.empty())
    {
        std::sort(others.begin(), others.end());
        std::string list;
        for (size_t i = 0; i < others.size(); i++)
            list += (i == 0 ? "" : i + 1 == others.size() ? " and " : ", ") + others[i];
        *error = expected + "; found " + list + ", but a binary must have the bundle's name";
        return false;
    }
    std::vector<std::string> held;
    for (const ArchitectureFolder& a : ArchitectureFolders)
    {
        std::string file = std::string("Contents\\") + a.folder + "\\" + ToUtf8(name);
        if (IsFile(bundle + L"\\" + ToWide(file)))
            held.push_back(file + " (" + a.machine + ")");
    }
    *error = expected;
    if (held.size() == 1)
        *error += "; it holds only a binary for another machine: " + held[0];
    else if (!held.empty())
    {
        *error += "; it holds only binaries for other machines: ";
        for (size_t i = 0; i < held.size(); i++)
            *error += (i == 0 ? "" : i + 1 == held.size() ? " and " : ", ") + held[i];
    }
    return false;
}

std::vector<std::string> Vst3BundleArchitectures(const std::wstring& path)
{
    std::vector<std::string> found;
    std::wstring bundle = TrimmedBundle(path);
    DWORD attributes = GetFileAttributesW(bundle.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return found;
    std::wstring name = FileNameOf(bundle);
    for (const ArchitectureFolder& a : ArchitectureFolders)
    {
        if (IsFile(bundle + L"\\Contents\\" + ToWide(a.folder) + L"\\" + name))
            found.push_back(a.folder);
    }
    return found;
}

} // namespace orvanta
