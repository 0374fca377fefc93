// The few places where mingw-w64 and MSVC differ, kept together.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Wide formatting goes through _vscwprintf and _vsnwprintf, which follow the
// Microsoft convention ("%s" wide, "%S" 8-bit) with msvcrt, ucrt and MSVC
// alike; libstdc++ switches mingw's C99 stdio on, under which the standard
// vswprintf would not.
#if defined(__GNUC__)
#define SCAN_NOINLINE __attribute__((noinline))
#else
#define SCAN_NOINLINE __declspec(noinline)
#endif
