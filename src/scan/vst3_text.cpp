#include "vst3_text.h"
#include "../base/hex_digits.h"

static const wchar_t Replacement = 0xFFFD;

static int ArrayLength(const char* array, int size)
{
    int n = 0;
    while (n < size && array[n])
        n++;
    return n;
}

// The code point of a whole, valid sequence starting at bytes[0], and its
// length in *length; -1 when the sequence is not UTF-8.
static long DecodeSequence(const unsigned char* bytes, int available, int* length)
{
    unsigned char lead = bytes[0];
    int count;
    long point;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        count = 2, point = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        count = 3, point = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // overlong below
        else if (lead == 0xED)
            high = 0x9F; // surrogates above
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        count = 4, point = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // overlong below
        else if (lead == 0xF4)
            high = 0x8F; // past U+10FFFF above
    }
    else
        return -1;
    if (count > available)
        return -1;
    for (int i = 1; i < count; i++)
    {
        unsigned char c = bytes[i];
        if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF))
            return -1;
        point = (point << 6) | (c & 0x3F);
    }
    *length = count;
    return point;
}

CSharedString TextFromUtf8Array(const char* array, int size)
{
    CSharedString result;
    int count = ArrayLength(array, size);
    // Every byte gives at most one unit, a four-byte sequence two.
    wchar_t* out = result.WritableBuffer(count);
    if (!out)
        return result;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(array);
    int units = 0;
    for (int i = 0; i < count;)
    {
        if (bytes[i] < 0x80)
        {
            out[units++] = bytes[i++];
            continue;
        }
        int length = 0;
        long point = DecodeSequence(bytes + i, count - i, &length);
        if (point < 0)
        {
            out[units++] = Replacement;
            i++;
        }
        else if (point >= 0x10000)
        {
            point -= 0x10000;
            out[units++] = (wchar_t)(0xD800 + (point >> 10));
            out[units++] = (wchar_t)(0xDC00 + (point & 0x3FF));
            i += length;
        }
        else
        {
            out[units++] = (wchar_t)point;
            i += length;
        }
    }
    out[units] = 0;
    result.SetLength(units);
    return result;
}

static bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
static bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

CSharedString TextFromUtf16Array(const wchar_t* array, int size)
{
    CSharedString result;
    int count = 0;
    while (count < size && array[count])
        count++;
    wchar_t* out = result.WritableBuffer(count);
    if (!out)
        return result;
    for (int i = 0; i < count; i++)
    {
        wchar_t c = array[i];
        if (IsHighSurrogate(c) && i + 1 < count && IsLowSurrogate(array[i + 1]))
        {
            out[i] = c;
            out[i + 1] = array[i + 1];
            i++;
        }
        else if (IsHighSurrogate(c) || IsLowSurrogate(c))
            out[i] = Replacement;
        else
            out[i] = c;
    }
    out[count] = 0;
    result.SetLength(count);
    return result;
}

// The memory byte behind each pair of digits, in the order the digits
// stand.
static const int DigitPairToByte[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

void FormatClassId(const char* cid, wchar_t* text)
{
    static const wchar_t Digits[] = L"0123456789ABCDEF";
    for (int pair = 0; pair < 16; pair++)
    {
        unsigned char byte = (unsigned char)cid[DigitPairToByte[pair]];
        text[2 * pair] = Digits[byte >> 4];
        text[2 * pair + 1] = Digits[byte & 0x0F];
    }
    text[ClassIdDigits] = 0;
}

bool ParseClassId(const wchar_t* text, char* cid)
{
    for (int i = 0; i < ClassIdDigits; i++)
        if (HexDigitValue(text[i]) < 0)
            return false;
    if (text[ClassIdDigits] != 0)
        return false;
    for (int pair = 0; pair < 16; pair++)
        cid[DigitPairToByte[pair]] =
            (char)(HexDigitValue(text[2 * pair]) * 16 + HexDigitValue(text[2 * pair + 1]));
    return true;
}
