// UTF-8 and UTF-16 conversions, and the eight-digit hexadecimal IDs.
#include "orvanta/text.h"
#include <windows.h>
#include <cstdio>

namespace orvanta {

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], n, nullptr,
                            nullptr);
    return bytes;
}

std::wstring ToWide(const std::string& text)
{
    if (text.empty())
        return {};
    // The count returned is used, never a terminating NUL: Wine writes none
    // for a text that ends inside a sequence.
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], n);
    return wide;
}

std::string HexId(uint32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", (unsigned)id);
    return text;
}

bool ParseHexId(const std::string& text, uint32_t* id)
{
    if (text.size() != 8)
        return false;
    uint32_t value = 0;
    for (char c : text)
    {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        if (digit < 0)
            return false;
        value = value << 4 | (uint32_t)digit;
    }
    *id = value;
    return true;
}

} // namespace orvanta
