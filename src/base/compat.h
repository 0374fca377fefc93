// The few places where mingw-w64 and MSVC differ, kept together.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Wine 8's own headers (the clang-cl build) lack this declaration; its
// kernel32 has the function.
#if defined(_MSC_VER) && defined(__WINE_WINBASE_H)
extern "C" WINBASEAPI BOOL WINAPI SetThreadStackGuarantee(PULONG stackSizeInBytes);
#endif

// Wide formatting goes through _vscwprintf and _vsnwprintf, which follow the
// Microsoft convention ("%s" wide, "%S" 8-bit) with msvcrt, ucrt and MSVC
// alike. The standard vswprintf does not under mingw-w64 once its own C99
// stdio is on, which libstdc++ switches on whatever the build defines.
//
// Structured exception handling: MSVC has __try/__except; with GCC the
// guard in src/scan/seh_guard.cpp carries its own unwind data instead (x64)
// or links its own registration record (x86).
// GDI+ headers: include them through gdiplus_compat.h.
