// Fixtures for the client library: real VST 2 plugin DLLs that misbehave
// the ways a host must survive. CLIENT_MODE picks the variant at build time
// (see client_fixtures.cmake):
//   1 hangs in its entry point for ever
//   2 shows a message box (title "Licence check") in its entry point and
//     waits for it to be closed
//   3 scans cleanly but leaves a thread behind that crashes 300 ms later
//     (the module pins itself, so the crash lies in its own code)
//   4 a shell of three sub-plugins whose second one crashes when it is built
//   5 sleeps 25 s in its entry point once: while "<name>.once" exists beside
//     the DLL, which it deletes
//   6 crashes in its entry point once: while "<name>.once" exists, which it
//     deletes first
//   7 the shell of mode 4, whose second sub-plugin hangs instead
// Every variant that does not die reports the effect "Client Fixture".
#include "host/vst2_abi.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <string.h>

#ifndef CLIENT_MODE
#error CLIENT_MODE must be defined
#endif

#define CLIENT_HANG 1
#define CLIENT_MESSAGE_BOX 2
#define CLIENT_LATE_CRASH 3
#define CLIENT_SHELL_BAD_SUB 4
#define CLIENT_SLOW_ONCE 5
#define CLIENT_CRASH_ONCE 6
#define CLIENT_SHELL_HANG_SUB 7
#define CLIENT_SHELL (CLIENT_MODE == CLIENT_SHELL_BAD_SUB || CLIENT_MODE == CLIENT_SHELL_HANG_SUB)

namespace {

const int32_t FixtureId = 0x436C4678; // "ClFx"
const int32_t SubIds[3] = {0x436C5331, 0x436C5332, 0x436C5333};
const char* const SubNames[3] = {"Sub One", "Sub Two", "Sub Three"};
const int32_t BadSubId = 0x436C5332;

AEffect Effect;
HMODULE Module;
int32_t ShellIdAsked;
int ShellListed;
volatile uintptr_t CrashAddress = 16;

[[maybe_unused]] void Crash()
{
    *(volatile int*)CrashAddress = 1;
}

// True once while "<dll name without .dll>.once" exists; deletes it.
[[maybe_unused]] bool TakeOnceMarker()
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(Module, path, MAX_PATH * 2 - 8);
    if (n == 0 || n >= MAX_PATH * 2 - 8)
        return false;
    wchar_t* dot = wcsrchr(path, L'.');
    if (!dot)
        dot = path + n;
    wcscpy(dot, L".once");
    return DeleteFileW(path) != 0;
}

[[maybe_unused]] DWORD WINAPI LateCrash(void*)
{
    Sleep(300);
    Crash();
    return 0;
}

void CopyText(void* ptr, const char* text)
{
    if (ptr)
        strcpy((char*)ptr, text);
}

intptr_t Dispatch(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float)
{
    bool shellItself = CLIENT_SHELL && ShellIdAsked == 0;
    switch (opcode)
    {
    case effGetEffectName:
        if (CLIENT_SHELL)
        {
            for (int i = 0; i < 3; i++)
                if (ShellIdAsked == SubIds[i])
                    CopyText(ptr, SubNames[i]);
            if (shellItself)
                CopyText(ptr, "Client Shell");
            return 1;
        }
        CopyText(ptr, "Client Fixture");
        return 1;
    case effGetVendorString:
        CopyText(ptr, "Client Fixtures");
        return 1;
    case effGetProductString:
        CopyText(ptr, "Client Suite");
        return 1;
    case effGetPlugCategory:
        return shellItself ? kPlugCategShell : kPlugCategEffect;
    case effGetVendorVersion:
        return 2000;
    case effCanDo:
        return -1;
    case effShellGetNextPlugin:
        if (shellItself && ShellListed < 3)
        {
            CopyText(ptr, SubNames[ShellListed]);
            return SubIds[ShellListed++];
        }
        return 0;
    default:
        return 0;
    }
}

} // namespace

extern "C" __declspec(dllexport) AEffect* VSTPluginMain(AudioMasterCallback host)
{
    memset(&Effect, 0, sizeof Effect);
    Effect.magic = kEffectMagic;
    Effect.dispatcher = Dispatch;
    Effect.numInputs = 2;
    Effect.numOutputs = 2;
    Effect.uniqueID = FixtureId;
    Effect.version = 1;
    ShellListed = 0;
#if CLIENT_MODE == CLIENT_HANG
    Sleep(INFINITE);
#elif CLIENT_MODE == CLIENT_MESSAGE_BOX
    MessageBoxW(nullptr, L"Please insert your dongle", L"Licence check", MB_OK);
#elif CLIENT_MODE == CLIENT_LATE_CRASH
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       (LPCWSTR)(void*)&LateCrash, &pinned);
    HANDLE thread = CreateThread(nullptr, 0, LateCrash, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
#elif CLIENT_SHELL
    ShellIdAsked = (int32_t)host(&Effect, audioMasterCurrentId, 0, 0, nullptr, 0.0f);
    if (ShellIdAsked == BadSubId)
    {
        if (CLIENT_MODE == CLIENT_SHELL_BAD_SUB)
            Crash();
        else
            Sleep(INFINITE);
    }
    if (ShellIdAsked != 0)
        Effect.uniqueID = ShellIdAsked;
#elif CLIENT_MODE == CLIENT_SLOW_ONCE
    if (TakeOnceMarker())
        Sleep(25000);
#elif CLIENT_MODE == CLIENT_CRASH_ONCE
    if (TakeOnceMarker())
        Crash();
#endif
    (void)host;
    return &Effect;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        Module = instance;
    return TRUE;
}
