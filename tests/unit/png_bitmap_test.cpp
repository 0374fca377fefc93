// The badge picture: GDI+ images of every pixel format turned into 32-bit
// bottom-up sections, the truncating premultiplication, PNG bytes decoded
// through the real GDI+ decoder, the program's own resource, and failure
// paths that must not leave GDI objects behind.
#include "splash/png_bitmap.h"
#include "splash/splash_window.h"
#include "base/gdiplus_compat.h"
#include <algorithm>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

struct GdiplusSession : ::testing::Environment
{
    ULONG_PTR token = 0;
    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token); }
};
::testing::Environment* const Session = ::testing::AddGlobalTestEnvironment(new GdiplusSession);

// A section's pixels in picture order (row 0 at the top), read through its
// own header, which must say bottom-up 32-bit BI_RGB.
struct SectionPixels
{
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

SectionPixels ReadSection(HBITMAP section)
{
    SectionPixels out;
    DIBSECTION dib;
    EXPECT_EQ(GetObjectW(section, sizeof dib, &dib), (int)sizeof dib);
    EXPECT_EQ(dib.dsBmih.biSize, 40u);
    EXPECT_EQ(dib.dsBmih.biPlanes, 1);
    EXPECT_EQ(dib.dsBmih.biBitCount, 32);
    EXPECT_EQ(dib.dsBmih.biCompression, (DWORD)BI_RGB);
    EXPECT_GT(dib.dsBmih.biHeight, 0) << "not bottom-up";
    EXPECT_EQ(dib.dsBm.bmWidthBytes, dib.dsBm.bmWidth * 4);
    out.width = dib.dsBm.bmWidth;
    out.height = dib.dsBm.bmHeight;
    const uint32_t* memory = static_cast<const uint32_t*>(dib.dsBm.bmBits);
    if (!memory)
        return out;
    for (int y = 0; y < out.height; y++)
        for (int x = 0; x < out.width; x++)
            out.pixels.push_back(memory[(size_t)(out.height - 1 - y) * out.width + x]);
    return out;
}

uint32_t Argb(unsigned a, unsigned r, unsigned g, unsigned b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// A GDI+ bitmap over caller-owned pixel memory, in exactly the given format.
struct ScanBitmap
{
    std::vector<BYTE> memory;
    GpBitmap* bitmap = nullptr;
    ScanBitmap(int width, int height, int stride, PixelFormat format, std::vector<BYTE> bytes)
        : memory(std::move(bytes))
    {
        BYTE* first = stride < 0 ? memory.data() + (size_t)(-stride) * (height - 1) : memory.data();
        EXPECT_EQ(GdipCreateBitmapFromScan0(width, height, stride, format, first, &bitmap), Ok);
    }
    ~ScanBitmap()
    {
        if (bitmap)
            GdipDisposeImage(bitmap);
    }
    void SetPalette(const std::vector<ARGB>& entries)
    {
        std::vector<UINT> block(2 + entries.size());
        ColorPalette* palette = reinterpret_cast<ColorPalette*>(block.data());
        palette->Flags = PaletteFlagsHasAlpha;
        palette->Count = (UINT)entries.size();
        memcpy(palette->Entries, entries.data(), entries.size() * sizeof(ARGB));
        ASSERT_EQ(GdipSetImagePalette(bitmap, palette), Ok);
    }
    SectionPixels Convert()
    {
        HBITMAP section = CreateDibFromBitmap(bitmap);
        EXPECT_NE(section, nullptr);
        SectionPixels out;
        if (section)
        {
            out = ReadSection(section);
            DeleteObject(section);
        }
        return out;
    }
};

std::vector<BYTE> Words16(std::initializer_list<uint16_t> values)
{
    std::vector<BYTE> bytes;
    for (uint16_t v : values)
    {
        bytes.push_back(v & 0xFF);
        bytes.push_back(v >> 8);
    }
    return bytes;
}

std::vector<BYTE> Words32(std::initializer_list<uint32_t> values)
{
    std::vector<BYTE> bytes;
    for (uint32_t v : values)
        for (int i = 0; i < 4; i++)
            bytes.push_back((v >> (8 * i)) & 0xFF);
    return bytes;
}

// A PNG file made here, its image data in stored (uncompressed) deflate
// blocks, so each test states its pixels byte for byte.
uint32_t Crc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : bytes)
    {
        crc ^= c;
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string BigEndian(uint32_t v)
{
    return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
}

std::string Chunk(const std::string& type, const std::string& data)
{
    return BigEndian((uint32_t)data.size()) + type + data + BigEndian(Crc32(type + data));
}

std::string MakePng(int width, int height, int depth, int colourType,
                    const std::vector<std::string>& rows, const std::string& plte = "",
                    const std::string& trns = "")
{
    std::string raw;
    for (const std::string& row : rows)
        raw += '\0' + row; // filter type 0
    std::string zlib = "\x78\x01";
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw)
    {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    uint16_t len = (uint16_t)raw.size();
    zlib += std::string{1, (char)(len & 0xFF), (char)(len >> 8), (char)(~len & 0xFF),
                        (char)((uint16_t)~len >> 8)};
    zlib += raw + BigEndian((b << 16) | a);
    std::string header = BigEndian(width) + BigEndian(height) +
                         std::string{(char)depth, (char)colourType, 0, 0, 0};
    std::string png = "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header);
    if (!plte.empty())
        png += Chunk("PLTE", plte);
    if (!trns.empty())
        png += Chunk("tRNS", trns);
    return png + Chunk("IDAT", zlib) + Chunk("IEND", "");
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += (char)v;
    return s;
}

// GDI objects held by this process. Wine's GetGuiResources counts nothing,
// so there the room left in the process's GDI handle table is measured
// instead: every object held is one slot less (hence the minus sign).
long GdiObjectsInUse()
{
    // The first image GDI+ decodes leaves a few objects behind for good
    // (about ten under Wine); decode one before the first count.
    static bool warmedUp = false;
    if (!warmedUp)
    {
        warmedUp = true;
        std::string png = MakePng(1, 1, 8, 6, {std::string(4, '\x40')});
        DeleteObject(LoadPngBitmapFromMemory(png.data(), (DWORD)png.size()));
    }
    DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted)
        return (long)counted;
    std::vector<HBITMAP> taken;
    while (taken.size() < 1000000)
    {
        HBITMAP b = CreateBitmap(1, 1, 1, 1, nullptr);
        if (!b)
            break;
        taken.push_back(b);
    }
    for (HBITMAP b : taken)
        DeleteObject(b);
    return -(long)taken.size();
}

SectionPixels LoadFromPng(const std::string& png)
{
    HBITMAP section = LoadPngBitmapFromMemory(png.data(), (DWORD)png.size());
    EXPECT_NE(section, nullptr);
    SectionPixels out;
    if (section)
    {
        out = ReadSection(section);
        DeleteObject(section);
    }
    return out;
}

// --- Conversion by source format (straight alpha) --------------------------

TEST(DibFromBitmap, Argb32RowsCopiedUnchangedAndUpright)
{
    ScanBitmap image(2, 2, 8, PixelFormat32bppARGB,
                     Words32({Argb(128, 200, 100, 50), Argb(0, 9, 8, 7),
                              Argb(255, 1, 2, 3), Argb(17, 0xAA, 0xBB, 0xCC)}));
    SectionPixels out = image.Convert();
    ASSERT_EQ(out.width, 2);
    ASSERT_EQ(out.height, 2);
    // Straight alpha: nothing premultiplied yet.
    EXPECT_EQ(out.At(0, 0), Argb(128, 200, 100, 50));
    EXPECT_EQ(out.At(1, 0), Argb(0, 9, 8, 7));
    EXPECT_EQ(out.At(0, 1), Argb(255, 1, 2, 3));
    EXPECT_EQ(out.At(1, 1), Argb(17, 0xAA, 0xBB, 0xCC));
}

TEST(DibFromBitmap, NegativeSourceStrideKeepsThePictureUpright)
{
    // Row 0 of the picture lies last in memory.
    ScanBitmap image(2, 2, -8, PixelFormat32bppARGB,
                     Words32({Argb(255, 0, 0, 2), Argb(255, 0, 0, 3), Argb(255, 0, 0, 0),
                              Argb(255, 0, 0, 1)}));
    SectionPixels out = image.Convert();
    ASSERT_EQ(out.pixels.size(), 4u);
    EXPECT_EQ(out.At(0, 0), Argb(255, 0, 0, 0));
    EXPECT_EQ(out.At(1, 0), Argb(255, 0, 0, 1));
    EXPECT_EQ(out.At(0, 1), Argb(255, 0, 0, 2));
    EXPECT_EQ(out.At(1, 1), Argb(255, 0, 0, 3));
}

TEST(DibFromBitmap, Rgb32GetsFullAlphaAndKeepsItsColours)
{
    ScanBitmap image(2, 1, 8, PixelFormat32bppRGB,
                     Words32({0x12345678u, 0x00FFFFFFu}));
    SectionPixels out = image.Convert();
    ASSERT_EQ(out.pixels.size(), 2u);
    EXPECT_EQ(out.At(0, 0), 0xFF345678u);
    EXPECT_EQ(out.At(1, 0), 0xFFFFFFFFu);
}

TEST(DibFromBitmap, Rgb24BytesInMemoryOrderAndRowPaddingIgnored)
{
    // Width 3: 9 bytes a row, padded to a stride of 12 with junk.
    std::vector<BYTE> bytes = {0x01, 0x02, 0x03, 0x10, 0x20, 0x30, 0xFF, 0xFE, 0xFD,
                               0xEE, 0xEE, 0xEE,
                               0x00, 0x00, 0x00, 0x7F, 0x80, 0x81, 0x05, 0x06, 0x07,
                               0xEE, 0xEE, 0xEE};
    ScanBitmap image(3, 2, 12, PixelFormat24bppRGB, bytes);
    SectionPixels out = image.Convert();
    ASSERT_EQ(out.pixels.size(), 6u);
    EXPECT_EQ(out.At(0, 0), 0xFF030201u);
    EXPECT_EQ(out.At(1, 0), 0xFF302010u);
    EXPECT_EQ(out.At(2, 0), 0xFFFDFEFFu);
    EXPECT_EQ(out.At(0, 1), 0xFF000000u);
    EXPECT_EQ(out.At(1, 1), 0xFF81807Fu);
    EXPECT_EQ(out.At(2, 1), 0xFF070605u);
}

TEST(DibFromBitmap, Rgb565FieldsWidenedByShiftRedHighBlueLow)
{
    ScanBitmap image(6, 1, 12, PixelFormat16bppRGB565,
                     Words16({0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0000, 0x0821}));
    SectionPixels out = image.Convert();
    ASSERT_EQ(out.pixels.size(), 6u);
    EXPECT_EQ(out.At(0, 0), Argb(0xFF, 0xF8, 0xFC, 0xF8));
    EXPECT_EQ(out.At(1, 0), Argb(0xFF, 0xF8, 0, 0));
    EXPECT_EQ(out.At(2, 0), Argb(0xFF, 0, 0xFC, 0));
    EXPECT_EQ(out.At(3, 0), Argb(0xFF, 0, 0, 0xF8));
    EXPECT_EQ(out.At(4, 0), Argb(0xFF, 0, 0, 0));
    EXPECT_EQ(out.At(5, 0), Argb(0xFF, 0x08, 0x04, 0x08)); // lowest bit of each field
}

TEST(DibFromBitmap, Rgb555FieldsWidenedByShiftTopBitIgnored)
{
    ScanBitmap image(6, 1, 12, PixelFormat16bppRGB555,
                     Words16({0x7FFF, 0xFFFF, 0x8000, 0x7C00, 0x03E0, 0x001F}));
    SectionPixels out = image.Convert();
    ASSERT_EQ(out.pixels.size(), 6u);
    EXPECT_EQ(out.At(0, 0), Argb(0xFF, 0xF8, 0xF8, 0xF8));
    EXPECT_EQ(out.At(1, 0), Argb(0xFF, 0xF8, 0xF8, 0xF8));
    EXPECT_EQ(out.At(2, 0), Argb(0xFF, 0, 0, 0));
    EXPECT_EQ(out.At(3, 0), Argb(0xFF, 0xF8, 0, 0));
    EXPECT_EQ(out.At(4, 0), Argb(0xFF, 0, 0xF8, 0));
    EXPECT_EQ(out.At(5, 0), Argb(0xFF, 0, 0, 0xF8));
}

TEST(DibFromBitmap, IndexedFormatsTakeTheirPaletteColours)
{
    const std::vector<ARGB> palette = {Argb(0x80, 0xFF, 0, 0), Argb(0xFF, 0, 0xFF, 0),
                                       Argb(0, 0x12, 0x34, 0x56), Argb(0xFF, 1, 2, 3)};
    {
        SCOPED_TRACE("8 bits: index 7 lies past the palette");
        ScanBitmap image(4, 1, 4, PixelFormat8bppIndexed, {0, 1, 2, 7});
        image.SetPalette(palette);
        SectionPixels out = image.Convert();
        ASSERT_EQ(out.pixels.size(), 4u);
        EXPECT_EQ(out.At(0, 0), palette[0]);
        EXPECT_EQ(out.At(1, 0), palette[1]);
        EXPECT_EQ(out.At(2, 0), palette[2]); // straight: premultiplied later
        EXPECT_EQ(out.At(3, 0), 0u);
    }
    {
        SCOPED_TRACE("4 bits: high nibble first");
        ScanBitmap image(3, 2, 4, PixelFormat4bppIndexed, {0x13, 0x20, 0, 0, 0x30, 0x1F, 0, 0});
        image.SetPalette(palette);
        SectionPixels out = image.Convert();
        ASSERT_EQ(out.pixels.size(), 6u);
        EXPECT_EQ(out.At(0, 0), palette[1]);
        EXPECT_EQ(out.At(1, 0), palette[3]);
        EXPECT_EQ(out.At(2, 0), palette[2]);
        EXPECT_EQ(out.At(0, 1), palette[3]);
        EXPECT_EQ(out.At(1, 1), palette[0]);
        EXPECT_EQ(out.At(2, 1), palette[1]);
    }
    {
        SCOPED_TRACE("1 bit: highest bit first");
        ScanBitmap image(10, 1, 4, PixelFormat1bppIndexed, {0xB0, 0x40, 0xFF, 0xFF});
        image.SetPalette({Argb(0xFF, 0, 0, 0), Argb(0xFF, 0xFF, 0xFF, 0xFF)});
        SectionPixels out = image.Convert();
        ASSERT_EQ(out.pixels.size(), 10u);
        const int expected[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
        for (int x = 0; x < 10; x++)
            EXPECT_EQ(out.At(x, 0), expected[x] ? 0xFFFFFFFFu : 0xFF000000u) << "x=" << x;
    }
}

TEST(DibFromBitmap, UnsupportedFormatsGiveTransparentSectionOfTheRightSize)
{
    const PixelFormat formats[] = {PixelFormat32bppPARGB, PixelFormat16bppARGB1555,
                                   PixelFormat16bppGrayScale, PixelFormat48bppRGB,
                                   PixelFormat64bppARGB, PixelFormat64bppPARGB};
    for (PixelFormat format : formats)
    {
        SCOPED_TRACE(testing::Message() << "format 0x" << std::hex << format);
        // Every byte set, so that any pixel copied would show.
        ScanBitmap image(5, 3, 40, format, std::vector<BYTE>(120, 0xFF));
        ASSERT_NE(image.bitmap, nullptr);
        SectionPixels out = image.Convert();
        EXPECT_EQ(out.width, 5);
        EXPECT_EQ(out.height, 3);
        EXPECT_EQ(out.pixels, std::vector<uint32_t>(15, 0u));
    }
}

TEST(DibFromBitmap, LockFailureGivesNullAndKeepsNoGdiObject)
{
    ScanBitmap image(4, 4, 16, PixelFormat32bppARGB, std::vector<BYTE>(64, 0x40));
    // A bitmap that is locked already cannot be locked again.
    Rect whole(0, 0, 4, 4);
    BitmapData held;
    ASSERT_EQ(GdipBitmapLockBits(image.bitmap, &whole, ImageLockModeWrite,
                                 PixelFormat32bppARGB, &held),
              Ok);
    EXPECT_EQ(CreateDibFromBitmap(image.bitmap), nullptr); // warm-up
    long before = GdiObjectsInUse();
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(CreateDibFromBitmap(image.bitmap), nullptr);
    EXPECT_EQ(GdiObjectsInUse(), before);
    GdipBitmapUnlockBits(image.bitmap, &held);
    EXPECT_EQ(CreateDibFromBitmap(nullptr), nullptr);
}

// --- Premultiplication --------------------------------------------------------

HBITMAP SectionWith(const std::vector<uint32_t>& pixels)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = (LONG)pixels.size();
    info.bmiHeader.biHeight = 1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (section)
        memcpy(bits, pixels.data(), pixels.size() * 4);
    return section;
}

TEST(Premultiply, TruncatedProductOfEachColourAndItsAlpha)
{
    HBITMAP section = SectionWith({
        Argb(0, 255, 200, 17),    // alpha 0: all four bytes 0
        Argb(255, 200, 100, 50),  // opaque: unchanged
        Argb(128, 200, 100, 50),  // half: 100, 50, 25
        Argb(254, 1, 1, 1),       // 1 x 254 / 255 truncates to 0
        Argb(254, 255, 128, 2),   // 254, 127 (127.5 truncated), 1 (1.99 truncated)
        Argb(1, 255, 255, 254),   // 1, 1, 0
    });
    ASSERT_NE(section, nullptr);
    ASSERT_TRUE(PremultiplyDib(section));
    SectionPixels out = ReadSection(section);
    ASSERT_EQ(out.pixels.size(), 6u);
    EXPECT_EQ(out.At(0, 0), 0u);
    EXPECT_EQ(out.At(1, 0), Argb(255, 200, 100, 50));
    EXPECT_EQ(out.At(2, 0), Argb(128, 100, 50, 25));
    EXPECT_EQ(out.At(3, 0), Argb(254, 0, 0, 0));
    EXPECT_EQ(out.At(4, 0), Argb(254, 254, 127, 1));
    EXPECT_EQ(out.At(5, 0), Argb(1, 1, 1, 0));
    DeleteObject(section);
}

TEST(Premultiply, RefusesWhatIsNoThirtyTwoBitSection)
{
    EXPECT_FALSE(PremultiplyDib(nullptr));
    HBITMAP plain = CreateBitmap(2, 2, 1, 1, nullptr); // device-dependent, no pixel memory
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(PremultiplyDib(plain));
    DeleteObject(plain);
}

// --- PNG bytes through the GDI+ decoder ------------------------------------

TEST(PngBitmap, RgbaPngComesOutPremultipliedAndUpright)
{
    std::string png = MakePng(2, 2, 8, 6,
                              {Bytes({200, 100, 50, 128, 255, 200, 17, 0}),
                               Bytes({1, 1, 1, 254, 10, 20, 30, 255})});
    SectionPixels out = LoadFromPng(png);
    ASSERT_EQ(out.pixels.size(), 4u);
    EXPECT_EQ(out.At(0, 0), Argb(128, 100, 50, 25));
    EXPECT_EQ(out.At(1, 0), 0u);
    EXPECT_EQ(out.At(0, 1), Argb(254, 0, 0, 0));
    EXPECT_EQ(out.At(1, 1), Argb(255, 10, 20, 30));
}

TEST(PngBitmap, RgbPngIsOpaqueWithItsColoursUnchanged)
{
    std::string png = MakePng(3, 1, 8, 2, {Bytes({200, 100, 50, 1, 2, 3, 255, 255, 255})});
    SectionPixels out = LoadFromPng(png);
    ASSERT_EQ(out.pixels.size(), 3u);
    EXPECT_EQ(out.At(0, 0), Argb(255, 200, 100, 50));
    EXPECT_EQ(out.At(1, 0), Argb(255, 1, 2, 3));
    EXPECT_EQ(out.At(2, 0), Argb(255, 255, 255, 255));
}

TEST(PngBitmap, PalettePngWithTransparencyShowsItsColours)
{
    std::string plte = Bytes({200, 100, 50, 10, 20, 30, 255, 0, 0});
    std::string trns = Bytes({128, 255, 0});
    std::string png = MakePng(4, 1, 8, 3, {Bytes({0, 1, 2, 1})}, plte, trns);
    SectionPixels out = LoadFromPng(png);
    ASSERT_EQ(out.pixels.size(), 4u);
    EXPECT_EQ(out.At(0, 0), Argb(128, 100, 50, 25));
    EXPECT_EQ(out.At(1, 0), Argb(255, 10, 20, 30));
    EXPECT_EQ(out.At(2, 0), 0u);
    EXPECT_EQ(out.At(3, 0), Argb(255, 10, 20, 30));
}

TEST(PngBitmap, UndecodableOrEmptyBytesGiveNullAndKeepNoGdiObject)
{
    std::string good = MakePng(1, 1, 8, 6, {Bytes({1, 2, 3, 4})});
    std::string broken = good.substr(0, 8) + std::string(40, 'x'); // signature, then junk
    const char junk[] = "not a picture at all";
    EXPECT_EQ(LoadPngBitmapFromMemory(broken.data(), (DWORD)broken.size()), nullptr);
    long before = GdiObjectsInUse();
    EXPECT_EQ(LoadPngBitmapFromMemory(broken.data(), (DWORD)broken.size()), nullptr);
    EXPECT_EQ(LoadPngBitmapFromMemory(junk, sizeof junk), nullptr);
    EXPECT_EQ(LoadPngBitmapFromMemory(good.data(), 0), nullptr);
    EXPECT_EQ(LoadPngBitmapFromMemory(nullptr, 10), nullptr);
    EXPECT_EQ(GdiObjectsInUse(), before);
    // The same call with the whole file succeeds and hands over one object.
    HBITMAP section = LoadPngBitmapFromMemory(good.data(), (DWORD)good.size());
    ASSERT_NE(section, nullptr);
    EXPECT_NE(GdiObjectsInUse(), before);
    DeleteObject(section);
    EXPECT_EQ(GdiObjectsInUse(), before);
}

// --- The resource -------------------------------------------------------------

TEST(PngBitmap, ModuleWithoutThePictureGivesNull)
{
    long before = GdiObjectsInUse();
    EXPECT_EQ(LoadPngBitmap(GetModuleHandleW(L"kernel32.dll")), nullptr);
    EXPECT_EQ(GdiObjectsInUse(), before);
}

// The test program embeds the server's resources; its picture, decoded on
// its own through GDI+, must match the section pixel for pixel after
// premultiplication, with the top row of the picture last in memory.
TEST(PngBitmap, ProgramPictureIs120SquareUprightAndPremultiplied)
{
    HMODULE self = GetModuleHandleW(nullptr);
    HBITMAP section = LoadPngBitmap(self);
    ASSERT_NE(section, nullptr);
    DIBSECTION dib;
    ASSERT_EQ(GetObjectW(section, sizeof dib, &dib), (int)sizeof dib);
    EXPECT_EQ(dib.dsBm.bmWidth, 120);
    EXPECT_EQ(dib.dsBm.bmHeight, 120);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
    SectionPixels out = ReadSection(section);
    ASSERT_EQ(out.pixels.size(), 120u * 120u);
    const uint32_t* memory = static_cast<const uint32_t*>(dib.dsBm.bmBits);
    EXPECT_EQ(memory[119 * 120], out.At(0, 0));
    EXPECT_EQ(memory[119 * 120 + 60], out.At(60, 0));
    EXPECT_EQ(memory[0], out.At(0, 119));

    HRSRC resource = FindResourceW(self, MAKEINTRESOURCEW(101), L"PNG");
    ASSERT_NE(resource, nullptr);
    DWORD size = SizeofResource(self, resource);
    const void* bytes = LockResource(LoadResource(self, resource));
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(copy), bytes, size);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(copy, TRUE, &stream), S_OK);
    GpBitmap* reference = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromStream(stream, &reference), Ok);
    PixelFormat format = 0;
    GdipGetImagePixelFormat(reference, &format);
    EXPECT_EQ(format, PixelFormat32bppARGB);
    int mismatches = 0;
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 120; x++)
        {
            ARGB c = 0;
            GdipBitmapGetPixel(reference, x, y, &c);
            unsigned a = c >> 24;
            uint32_t expected = Argb(a, ((c >> 16) & 0xFF) * a / 255,
                                     ((c >> 8) & 0xFF) * a / 255, (c & 0xFF) * a / 255);
            if (out.At(x, y) != expected && mismatches++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << out.At(x, y)
                              << " expected " << expected;
        }
    EXPECT_EQ(mismatches, 0);
    GdipDisposeImage(reference);
    stream->Release();

    // The artwork itself: transparent corners, the dark square at alpha 179,
    // a blue emblem above a light grey caption.
    for (uint32_t corner : {out.At(0, 0), out.At(119, 0), out.At(0, 119), out.At(119, 119)})
        EXPECT_EQ(corner, 0u);
    EXPECT_EQ(out.At(60, 4) >> 24, 179u);
    EXPECT_EQ(out.At(4, 60) >> 24, 179u);
    EXPECT_LT(out.At(4, 60) & 0xFFFFFF, 0x202020u); // almost black
    uint32_t emblem = out.At(75, 30);
    EXPECT_EQ(emblem >> 24, 255u);
    EXPECT_GT((int)(emblem & 0xFF), (int)((emblem >> 16) & 0xFF) + 100); // blue over red
    EXPECT_EQ(out.At(18, 90), Argb(255, 214, 214, 214));
    DeleteObject(section);
}

// --- The window without its picture -------------------------------------------

// CALLBACK: a lambda would be __cdecl, which 32-bit Windows does not call.
BOOL CALLBACK CountWindow(HWND, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(SplashWindow, NoPictureMeansNoWindowAndNothingHeld)
{
    ASSERT_EQ(SplashWindow, nullptr);
    long before = GdiObjectsInUse();
    CreateSplashWindow(GetModuleHandleW(L"kernel32.dll"), nullptr);
    EXPECT_EQ(SplashWindow, nullptr);
    EXPECT_EQ(GdiObjectsInUse(), before);
    int windows = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, (LPARAM)&windows);
    EXPECT_EQ(windows, 0);
}

} // namespace
