#include "hex_digits.h"

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

uint64_t ParseHexArgument(const wchar_t* text)
{
    uint64_t value = 0;
    for (; text && HexDigitValue(*text) >= 0; text++)
        value = (value << 4) | (uint64_t)HexDigitValue(*text);
    return value;
}
