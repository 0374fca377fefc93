#include "text_convert.h"
#include <cstdint>
#include <windows.h>

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

void AppendUtf8(std::string* out, uint32_t c)
{
    if (c < 0x80)
        out->push_back((char)c);
    else if (c < 0x800)
    {
        out->push_back((char)(0xC0 | (c >> 6)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
    else if (c < 0x10000)
    {
        out->push_back((char)(0xE0 | (c >> 12)));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
    else
    {
        out->push_back((char)(0xF0 | (c >> 18)));
        out->push_back((char)(0x80 | ((c >> 12) & 0x3F)));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
}

} // namespace orvanta
