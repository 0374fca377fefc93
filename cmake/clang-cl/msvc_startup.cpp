// What the MSVC runtime library gives a program before and around WinMain,
// for the clang-cl toolchain: Wine ships the C runtime as ucrtbase.dll but
// none of the static start-up code an MSVC build links. Not the server's
// code: the server is the same as under MSVC.

// The C runtime's functions declared plain rather than as imports: this
// file defines atexit, which the runtime DLL leaves to the program (the
// import library's thunks reach the rest).
#define _ACRTIMP
#include <windows.h>
#include <corecrt_startup.h>
#include <intrin.h>
#include <stdlib.h>

extern "C" {

// --------------------------------------------------- static initialisers
// The compiler puts a pointer to each dynamic initialiser in .CRT$XCU; the
// linker orders the .CRT$XC* sections by name, so these two bracket them.
#pragma section(".CRT$XCA", long, read)
#pragma section(".CRT$XCZ", long, read)
__declspec(allocate(".CRT$XCA")) _PVFV __xc_a[] = {nullptr};
__declspec(allocate(".CRT$XCZ")) _PVFV __xc_z[] = {nullptr};

// Destructors of static objects are registered here by the compiler; the
// C runtime runs them from exit.
int __cdecl atexit(_PVFV function) { return _crt_atexit(function); }

// Referenced by every object that uses floating point: the MSVC runtime's
// sign that its floating-point support is needed.
int _fltused = 0x9875;

// ----------------------------------------------------------- TLS directory
// The loader runs the callbacks between .CRT$XLA and .CRT$XLZ on every
// thread start (the server has one, in .CRT$XLB).
ULONG _tls_index = 0;
#pragma section(".tls", long, read, write)
#pragma section(".tls$ZZZ", long, read, write)
__declspec(allocate(".tls")) char _tls_start = 0;
__declspec(allocate(".tls$ZZZ")) char _tls_end = 0;
#pragma section(".CRT$XLA", long, read)
#pragma section(".CRT$XLZ", long, read)
__declspec(allocate(".CRT$XLA")) PIMAGE_TLS_CALLBACK __xl_a = nullptr;
__declspec(allocate(".CRT$XLZ")) PIMAGE_TLS_CALLBACK __xl_z = nullptr;
// The linker points the image's TLS directory at _tls_used.
extern const IMAGE_TLS_DIRECTORY64 _tls_used = {
    (ULONGLONG)&_tls_start, (ULONGLONG)&_tls_end, (ULONGLONG)&_tls_index,
    (ULONGLONG)(&__xl_a + 1), 0, 0};

// ---------------------------------------------------------- /GS cookie
// The default value MSVC uses; replaced at start-up before any checked
// function runs.
const UINT_PTR DefaultCookie = 0x00002B992DDFA232ull;
UINT_PTR __security_cookie = DefaultCookie;
UINT_PTR __security_cookie_complement = ~DefaultCookie;

void __cdecl __security_init_cookie(void)
{
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    UINT_PTR cookie = ((UINT_PTR)time.dwHighDateTime << 32 | time.dwLowDateTime) ^
                      GetCurrentThreadId() ^ GetCurrentProcessId() ^
                      ((UINT_PTR)counter.QuadPart << 32) ^ (UINT_PTR)counter.QuadPart ^
                      (UINT_PTR)&cookie;
    // The top 16 bits stay clear, as MSVC's runtime keeps them.
    cookie &= 0x0000FFFFFFFFFFFFull;
    if (cookie == DefaultCookie || cookie == 0)
        cookie = DefaultCookie + 1;
    __security_cookie = cookie;
    __security_cookie_complement = ~cookie;
}

void __cdecl __security_check_cookie(UINT_PTR cookie)
{
    if (cookie != __security_cookie)
        __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

// --------------------------------------------------------- entry point
extern IMAGE_DOS_HEADER __ImageBase;
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

void WinMainCRTStartup(void)
{
    __security_init_cookie();
    _set_app_type(_crt_gui_app);
    for (_PVFV* initialiser = __xc_a; initialiser < __xc_z; initialiser++)
        if (*initialiser)
            (*initialiser)();
    STARTUPINFOW startup;
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    // exit runs the registered destructors and flushes the C runtime's
    // streams, as after WinMain in an MSVC build.
    exit(WinMain((HINSTANCE)&__ImageBase, nullptr, _get_narrow_winmain_command_line(), show));
}

} // extern "C"

// ------------------------------------------------------- operator delete
// The server allocates through its own functions; what the compiler's
// deleting destructors reference ends in the C runtime's free.
void __cdecl operator delete(void* block) noexcept { free(block); }
void __cdecl operator delete(void* block, size_t) noexcept { free(block); }
