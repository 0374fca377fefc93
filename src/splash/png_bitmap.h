// The badge picture: a PNG resource decoded by GDI+ into a 32-bit DIB
// section with premultiplied alpha, the form a layered window needs.
// GDI+ must be started before any of these run.
#pragma once
#include "../base/compat.h"

namespace Gdiplus { class GpBitmap; }

// Resource type "PNG", integer name 101, any language.
const int BadgeResourceId = 101;

// The premultiplied section of the module's badge resource, or null.
// The caller owns the section (DeleteObject).
HBITMAP LoadPngBitmap(HINSTANCE module);
// The same for PNG bytes held in memory (the bytes are copied).
HBITMAP LoadPngBitmapFromMemory(const void* bytes, DWORD size);
// A new bottom-up 32-bit section of the bitmap's size with its pixels in
// straight alpha; pixels of formats it cannot convert stay transparent
// black. Null on failure, with nothing left allocated.
HBITMAP CreateDibFromBitmap(Gdiplus::GpBitmap* bitmap);
// Multiplies every colour byte of a 32-bit section by its pixel's alpha
// over 255, truncating. False when the handle is no such section.
bool PremultiplyDib(HBITMAP section);
