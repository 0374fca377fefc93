#include "database/atomic_file.h"
#include "client/system_error.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>

namespace orvanta {

bool WriteFileAtomically(const std::wstring& path, const std::string& bytes, std::string* error)
{
    // One fixed name: a run killed in the middle of a write leaves at most
    // this one file, which the next write replaces.
    std::wstring temporary = path + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        *error = "cannot create " + ToUtf8(temporary) + " (" + SystemErrorText(GetLastError()) + ")";
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size())
    {
        DWORD chunk = (DWORD)std::min<size_t>(bytes.size() - done, 1 << 20), written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    DWORD code = GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExW(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        ok = false;
        code = GetLastError();
    }
    if (!ok)
    {
        DeleteFileW(temporary.c_str());
        *error = "cannot write " + ToUtf8(path) + " (" + SystemErrorText(code) + ")";
    }
    return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes, uint32_t* errorCode)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        *errorCode = GetLastError();
        return false;
    }
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0)
        bytes->append(buffer, got);
    *errorCode = ok ? 0 : GetLastError();
    CloseHandle(file);
    return ok;
}

} // namespace orvanta
