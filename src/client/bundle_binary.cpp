// Resolving a VST3 bundle to its binary before any server sees it: a bundle
// that lacks its x64 binary, or holds one under another name, is refused
// here with what was found, since loading it could only fail.
#include "bundle_binary.h"
#include "orvanta/paths.h"
#include "orvanta/scan.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>
#include <vector>

namespace orvanta {
namespace {

const wchar_t BinaryFolder[] = L"Contents\\x86_64-win";

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

std::wstring Vst3BundleBinary(const std::wstring& bundle)
{
    std::wstring folder = bundle;
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder + L"\\" + BinaryFolder + L"\\" + FileNameOf(folder);
}

bool FindVst3Binary(const std::wstring& path, std::wstring* binary, std::string* error)
{
    std::wstring bundle = path;
    while (bundle.size() > 3 && (bundle.back() == L'\\' || bundle.back() == L'/'))
        bundle.pop_back();
    DWORD attributes = GetFileAttributesW(bundle.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        *binary = path;
        return true;
    }
    std::wstring name = FileNameOf(bundle);
    std::wstring folder = bundle + L"\\" + BinaryFolder;
    *binary = Vst3BundleBinary(bundle);
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
    std::wstring x86 = bundle + L"\\Contents\\x86-win\\" + name;
    DWORD old = GetFileAttributesW(x86.c_str());
    if (old != INVALID_FILE_ATTRIBUTES && !(old & FILE_ATTRIBUTE_DIRECTORY))
        *error = expected + "; it holds only a 32-bit binary, Contents\\x86-win\\" + ToUtf8(name);
    else
        *error = expected;
    return false;
}

} // namespace orvanta
