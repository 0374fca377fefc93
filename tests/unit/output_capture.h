// Points the server's OutputHandle at a temporary file for one test and
// hands back every byte written to it.
#pragma once
#include "base/log_output.h"
#include <string>

class OutputCapture
{
public:
    OutputCapture()
    {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"out", 0, m_path);
        m_file = CreateFileW(m_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        m_saved = OutputHandle;
        OutputHandle = m_file;
    }
    ~OutputCapture()
    {
        OutputHandle = m_saved;
        CloseHandle(m_file);
        DeleteFileW(m_path);
    }
    // Everything written since the last call.
    std::string Take()
    {
        LARGE_INTEGER size;
        GetFileSizeEx(m_file, &size);
        std::string bytes((size_t)size.QuadPart - m_taken, '\0');
        OVERLAPPED at = {};
        at.Offset = (DWORD)m_taken;
        DWORD got = 0;
        if (!bytes.empty())
            ReadFile(m_file, &bytes[0], (DWORD)bytes.size(), &got, &at);
        bytes.resize(got);
        m_taken += got;
        SetFilePointer(m_file, 0, nullptr, FILE_END);
        return bytes;
    }

private:
    wchar_t m_path[MAX_PATH];
    HANDLE m_file;
    HANDLE m_saved;
    size_t m_taken = 0;
};
