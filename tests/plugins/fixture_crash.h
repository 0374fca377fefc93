// The crash the fixture plugins make on purpose: a write to address 16, so
// the dump's exception is C0000005 at a known place. Before it, the thread
// that is about to die appends its ID to the file named by
// CRASH_FIXTURE_THREAD_FILE (when set), so a test can compare it with the
// exception thread the dump records.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

namespace fixture {

inline volatile uintptr_t CrashAddress = 16;

[[maybe_unused]] inline void Crash()
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("CRASH_FIXTURE_THREAD_FILE", path, sizeof path);
    if (n > 0 && n < sizeof path)
    {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            char line[32];
            int length = snprintf(line, sizeof line, "%lu\n", GetCurrentThreadId());
            DWORD written = 0;
            WriteFile(file, line, (DWORD)length, &written, nullptr);
            CloseHandle(file);
        }
    }
    *(volatile int*)CrashAddress = 1;
}

} // namespace fixture
