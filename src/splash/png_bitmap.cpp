#include "png_bitmap.h"
#include "../base/gdiplus_compat.h"
#include <stddef.h>
#include <string.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const UINT OpaqueAlpha = 0xFF000000u;

// Colours of an indexed image, as straight ARGB words.
struct Palette
{
    UINT count;
    UINT entries[256];
};

typedef UINT (*PixelReader)(const BYTE*& source);

UINT Read32bppRgb(const BYTE*& source)
{
    UINT value;
    memcpy(&value, source, 4);
    source += 4;
    return value | OpaqueAlpha;
}

UINT Read24bppRgb(const BYTE*& source)
{
    UINT value = source[0] | (source[1] << 8) | (source[2] << 16) | OpaqueAlpha;
    source += 3;
    return value;
}

// The 16-bit formats keep GDI+'s own layout: red in the high field, blue in
// bits 0-4, so the picture keeps its colours (the section wants blue in its
// lowest byte too). Fields are widened by shifting alone, so full scale is
// 0xF8 (0xFC for 6-bit green), not 0xFF.
UINT Read16bppRgb565(const BYTE*& source)
{
    UINT v = source[0] | (source[1] << 8);
    source += 2;
    UINT blue = (v & 0x1F) << 3;
    UINT green = ((v >> 5) & 0x3F) << 2;
    UINT red = ((v >> 11) & 0x1F) << 3;
    return blue | (green << 8) | (red << 16) | OpaqueAlpha;
}

UINT Read16bppRgb555(const BYTE*& source)
{
    UINT v = source[0] | (source[1] << 8);
    source += 2;
    UINT blue = (v & 0x1F) << 3;
    UINT green = ((v >> 5) & 0x1F) << 3;
    UINT red = ((v >> 10) & 0x1F) << 3;
    return blue | (green << 8) | (red << 16) | OpaqueAlpha;
}

PixelReader ReaderFor(PixelFormat format)
{
    switch (format)
    {
    case PixelFormat32bppRGB:
        return Read32bppRgb;
    case PixelFormat24bppRGB:
        return Read24bppRgb;
    case PixelFormat16bppRGB565:
        return Read16bppRgb565;
    case PixelFormat16bppRGB555:
        return Read16bppRgb555;
    default:
        return nullptr;
    }
}

bool ReadPalette(GpBitmap* bitmap, Palette& palette)
{
    palette.count = 0;
    INT size = 0;
    if (GdipGetImagePaletteSize(bitmap, &size) != Ok || size < (INT)sizeof(ColorPalette))
        return false;
    // ColorPalette is a header followed by its entries; 256 is the most an
    // indexed format can address.
    UINT buffer[2 + 256];
    if (size > (INT)sizeof buffer)
        size = sizeof buffer;
    ColorPalette* colours = reinterpret_cast<ColorPalette*>(buffer);
    if (GdipGetImagePalette(bitmap, colours, size) != Ok)
        return false;
    UINT count = colours->Count;
    UINT room = (UINT)(size - offsetof(ColorPalette, Entries)) / sizeof(ARGB);
    if (count > room)
        count = room;
    memcpy(palette.entries, colours->Entries, count * sizeof(ARGB));
    palette.count = count;
    return true;
}

// Indexed rows hold 1, 4 or 8 bits per pixel, the first pixel in the high
// bits of its byte. An index past the palette stays transparent.
void ConvertIndexedRow(const BYTE* source, UINT* target, UINT width, UINT bits,
                       const Palette& palette)
{
    UINT mask = (1u << bits) - 1;
    for (UINT x = 0; x < width; x++)
    {
        UINT bit = x * bits;
        UINT shift = 8 - bits - (bit & 7);
        UINT index = (source[bit >> 3] >> shift) & mask;
        target[x] = index < palette.count ? palette.entries[index] : 0;
    }
}

} // namespace

HBITMAP CreateDibFromBitmap(GpBitmap* bitmap)
{
    PixelFormat format = 0;
    UINT width = 0, height = 0;
    if (!bitmap || GdipGetImagePixelFormat(bitmap, &format) != Ok ||
        GdipGetImageWidth(bitmap, &width) != Ok || GdipGetImageHeight(bitmap, &height) != Ok)
        return nullptr;
    if (width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF)
        return nullptr;

    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = (LONG)width;
    info.bmiHeader.biHeight = (LONG)height; // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section || !bits)
    {
        if (section)
            DeleteObject(section);
        return nullptr;
    }
    memset(bits, 0, (size_t)width * height * 4);

    // Indexed images come out in their palette's colours rather than
    // transparent: a 32-bit section has no colour table to hand them to.
    bool indexed = (format & PixelFormatIndexed) != 0;
    Palette palette;
    if (indexed && !ReadPalette(bitmap, palette))
        palette.count = 0;

    // Locked in its own format, so that GDI+ converts nothing. Braces:
    // Wine's Rect is a plain aggregate, without the SDK's constructors.
    Rect whole{0, 0, (INT)width, (INT)height};
    BitmapData data;
    if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeRead, format, &data) != Ok)
    {
        DeleteObject(section);
        return nullptr;
    }
    UINT indexBits = (format >> 8) & 0xFF;
    for (UINT r = 0; r < height; r++)
    {
        const BYTE* source = static_cast<const BYTE*>(data.Scan0) + (INT_PTR)r * data.Stride;
        UINT* target = static_cast<UINT*>(bits) + (size_t)(height - 1 - r) * width;
        if (format == PixelFormat32bppARGB)
        {
            memcpy(target, source, (size_t)width * 4);
        }
        else if (indexed)
        {
            if (indexBits == 1 || indexBits == 4 || indexBits == 8)
                ConvertIndexedRow(source, target, width, indexBits, palette);
        }
        else if (PixelReader read = ReaderFor(format))
        {
            for (UINT x = 0; x < width; x++)
                target[x] = read(source);
        }
        // Any other format (premultiplied, grey, 16-bit with alpha, 48 and
        // 64 bits, CMYK) leaves the row transparent.
    }
    GdipBitmapUnlockBits(bitmap, &data);
    return section;
}

bool PremultiplyDib(HBITMAP section)
{
    DIBSECTION dib;
    if (!section || GetObjectW(section, sizeof dib, &dib) != (int)sizeof dib)
        return false;
    if (!dib.dsBm.bmBits || dib.dsBm.bmBitsPixel != 32)
        return false;
    BYTE* pixel = static_cast<BYTE*>(dib.dsBm.bmBits);
    size_t count = (size_t)dib.dsBm.bmWidthBytes * (size_t)dib.dsBm.bmHeight / 4;
    for (size_t i = 0; i < count; i++, pixel += 4)
    {
        UINT alpha = pixel[3];
        pixel[0] = (BYTE)(pixel[0] * alpha / 255);
        pixel[1] = (BYTE)(pixel[1] * alpha / 255);
        pixel[2] = (BYTE)(pixel[2] * alpha / 255);
    }
    return true;
}

HBITMAP LoadPngBitmapFromMemory(const void* bytes, DWORD size)
{
    if (!bytes || size == 0)
        return nullptr;
    // Without memory for the copy there is no picture: the caller gets null
    // like for any other failure.
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!memory)
        return nullptr;
    void* copy = GlobalLock(memory);
    if (!copy)
    {
        GlobalFree(memory);
        return nullptr;
    }
    memcpy(copy, bytes, size);
    GlobalUnlock(memory);

    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream)) || !stream)
    {
        GlobalFree(memory); // not handed over
        return nullptr;
    }
    GpBitmap* image = nullptr;
    if (GdipCreateBitmapFromStream(stream, &image) != Ok)
    {
        stream->Release();
        if (image)
            GdipDisposeImage(image);
        return nullptr;
    }
    HBITMAP section = CreateDibFromBitmap(image);
    if (section)
        PremultiplyDib(section);
    stream->Release(); // the last reference frees the memory block
    GdipDisposeImage(image);
    return section;
}

HBITMAP LoadPngBitmap(HINSTANCE module)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(BadgeResourceId), L"PNG");
    if (!resource)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    DWORD size = SizeofResource(module, resource);
    if (!loaded || size == 0)
        return nullptr;
    return LoadPngBitmapFromMemory(LockResource(loaded), size);
}
