// Text as the tests meet it: paths are UTF-16 on the Windows side, and
// everything a program writes or a file holds is UTF-8 bytes.
#pragma once
#include <string>
#include <vector>

namespace testsupport {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// The lines of a text, split at each "\n" (a "\r" before it stays with the
// line, so a test sees one); a last line without an end counts, an empty
// text has none.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace testsupport
