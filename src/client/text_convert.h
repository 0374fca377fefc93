// UTF-8 and UTF-16 conversions of the client library (paths are UTF-16,
// everything else UTF-8).
#pragma once
#include <cstdint>
#include <string>

namespace orvanta {

std::string ToUtf8(const std::wstring& text);
std::wstring ToWide(const std::string& text);
// Appends the UTF-8 bytes of one code point (up to U+10FFFF).
void AppendUtf8(std::string* out, uint32_t codePoint);

} // namespace orvanta
