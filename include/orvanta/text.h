// Texts as the library hands them over: UTF-8 in std::string, paths UTF-16
// in std::wstring, plugin and exception IDs as eight hexadecimal digits.
#pragma once
#include <cstdint>
#include <string>

namespace orvanta {

std::string ToUtf8(const std::wstring& text);
// Bytes that are not valid UTF-8 become U+FFFD.
std::wstring ToWide(const std::string& text);

// "0000ABCD": eight upper-case hexadecimal digits, as the database and the
// server's requests write a plugin ID or an exception code.
std::string HexId(uint32_t id);
// Exactly eight hexadecimal digits in either letter case; false (and *id
// untouched) for anything else.
bool ParseHexId(const std::string& text, uint32_t* id);

} // namespace orvanta
