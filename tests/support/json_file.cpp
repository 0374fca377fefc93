#include "json_file.h"
#include "files.h"
#include "text.h"
#include <stdexcept>

namespace testsupport {

nlohmann::json ReadJson(const std::wstring& path)
{
    std::string bytes = ReadWholeFile(path);
    nlohmann::json document = nlohmann::json::parse(bytes, nullptr, false);
    if (document.is_discarded())
        throw std::runtime_error("not valid JSON: " + Utf8(path) + "\n" + bytes);
    return document;
}

} // namespace testsupport
