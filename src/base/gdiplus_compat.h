// GDI+ headers, usable under both compilers: the Windows SDK's versions
// call min and max unqualified, which NOMINMAX (set for the whole build)
// takes away; mingw-w64's do not need them.
#pragma once
#include "compat.h"
#include <objidl.h>
#if defined(_MSC_VER) && defined(NOMINMAX)
namespace Gdiplus {
template <class T> inline const T& min(const T& a, const T& b) { return b < a ? b : a; }
template <class T> inline const T& max(const T& a, const T& b) { return a < b ? b : a; }
}
#endif
#include <gdiplus.h>
