#include "scratch_folder.h"
#include "files.h"
#include "text.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdexcept>

namespace testsupport {

ScratchFolder::ScratchFolder(const std::wstring& prefix)
{
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        throw std::runtime_error("no temporary folder (error " + std::to_string(GetLastError()) + ")");
    // Shared by the threads of a test program.
    static LONG counter = 0;
    for (;;)
    {
        m_path = std::wstring(temp, n) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(InterlockedIncrement(&counter));
        if (CreateDirectoryW(m_path.c_str(), nullptr))
            return;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create the folder " + Utf8(m_path) + " (error " +
                                     std::to_string(error) + ")");
    }
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(m_path);
}

std::wstring ScratchFolder::operator/(const std::wstring& name) const
{
    return m_path + L"\\" + name;
}

std::wstring ScratchFolder::Copy(const std::wstring& from, const std::wstring& name) const
{
    return CopyTo(from, m_path, name);
}

std::wstring ScratchFolder::Write(const std::wstring& name, const std::string& bytes) const
{
    std::wstring path = *this / name;
    WriteWholeFile(path, bytes);
    return path;
}

std::string ScratchFolder::Read(const std::wstring& name) const
{
    return ReadWholeFile(*this / name);
}

} // namespace testsupport
