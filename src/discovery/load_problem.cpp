// The explanations a scan result carries in loadProblem. The server only
// says "Failed to load library, err=126" or "err=193"; the reason is read
// here from the module file and the folders Windows searches.
#include "discovery/load_problem.h"
#include "discovery/module_image.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <cstdio>
#include <windows.h>

namespace orvanta {
namespace {

const size_t MaxNamed = 3;

const char* const OnlyX64 = "; only 64-bit (x64) modules can be loaded";
const char* const OnlyX64AndX86 = "; only x64 and x86 modules can be loaded";

bool StartsWithAscii(const std::string& text, const char* prefix)
{
    for (size_t i = 0; prefix[i]; i++)
    {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c + 32);
        if (c != prefix[i])
            return false;
    }
    return true;
}

std::wstring SystemFolder(UINT (WINAPI* get)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH + 1];
    UINT length = get(buffer, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring PathVariable()
{
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    DWORD length = GetEnvironmentVariableW(L"PATH", &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

bool FileExists(const std::wstring& folder, const std::string& name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    path += ToWide(name);
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::string WrongMachineText(uint16_t machine, bool x86Too)
{
    const char* only = x86Too ? OnlyX64AndX86 : OnlyX64;
    switch (machine)
    {
    case machine::X64:
        return {};
    case machine::X86:
        return x86Too ? std::string() : std::string("32-bit module: built for x86") + only;
    case machine::Arm64:
        return std::string("ARM64 module: built for 64-bit ARM") + only;
    case machine::Arm:
        return std::string("ARM module: built for 32-bit ARM") + only;
    default:
    {
        char number[8];
        std::snprintf(number, sizeof number, "%04X", (unsigned)machine);
        return std::string("module for another machine: built for machine type 0x") + number + only;
    }
    }
}

std::string MissingX86ServerText(const std::wstring& server)
{
    return "32-bit module: built for x86; the 32-bit scan server is missing: " + ToUtf8(server);
}

bool IsApiSetName(const std::string& dll)
{
    return StartsWithAscii(dll, "api-ms-win-") || StartsWithAscii(dll, "ext-ms-");
}

std::vector<std::wstring> DependencyFolders(const std::wstring& modulePath, bool x86)
{
    std::vector<std::wstring> folders;
    auto add = [&](const std::wstring& folder) {
        if (!folder.empty())
            folders.push_back(folder);
    };
    add(FolderOf(FullPath(modulePath)));
    // A 32-bit module's system folder is the one WoW64 gives 32-bit
    // processes.
    add(SystemFolder(x86 ? GetSystemWow64DirectoryW : GetSystemDirectoryW));
    add(SystemFolder(GetWindowsDirectoryW));
    std::wstring path = PathVariable();
    for (size_t start = 0; start <= path.size();)
    {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring folder = path.substr(start, end - start);
        // PATH entries may be quoted.
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        add(folder);
        start = end + 1;
    }
    return folders;
}

std::string MissingDependencyText(const std::wstring& modulePath)
{
    ModuleImage image = ReadModuleImage(modulePath, true);
    if (image.kind != ModuleImage::Kind::image)
        return {};
    std::vector<std::wstring> folders = DependencyFolders(modulePath, image.machine == machine::X86);
    std::vector<std::string> missing;
    for (const std::string& dll : image.imports)
    {
        if (IsApiSetName(dll))
            continue;
        bool found = false;
        for (const std::wstring& folder : folders)
            if ((found = FileExists(folder, dll)))
                break;
        if (!found)
            missing.push_back(dll);
    }
    return NotFoundText(missing);
}

std::string NotFoundText(const std::vector<std::string>& missing)
{
    if (missing.empty())
        return {};
    size_t named = missing.size() > MaxNamed ? MaxNamed : missing.size();
    std::string text = "needs " + missing[0];
    for (size_t i = 1; i < named; i++)
        text += (i + 1 == named && named == missing.size() ? " and " : ", ") + missing[i];
    if (named < missing.size())
        text += " and " + std::to_string(missing.size() - named) + " more";
    return text + ", not found";
}

} // namespace orvanta
