#include "build_paths.h"
#include "machines.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace testsupport {

namespace {

// With a trailing backslash.
std::wstring BinFolder()
{
    std::wstring path(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &path[0], (DWORD)path.size());
    path.resize(n);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L".\\" : path.substr(0, slash + 1);
}

} // namespace

std::wstring BinPath(const std::wstring& name)
{
    return BinFolder() + name;
}

std::wstring FixtureBinPath(const std::wstring& name)
{
    if (sizeof(void*) == 8 && MachineUnderTest() == Machine::X86)
        return X86BinPath(name);
    return BinFolder() + name;
}

std::wstring FixturePath(const std::wstring& name)
{
    return FixtureBinPath(L"plugins\\" + name + L".dll");
}

std::wstring SamplePath(const std::wstring& name)
{
    return FixtureBinPath(L"samples\\" + name + L".dll");
}

} // namespace testsupport
