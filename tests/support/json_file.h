// A JSON file as a standard parser reads it, for checking what a program
// wrote.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

namespace testsupport {

// Throws std::runtime_error naming the file and holding its bytes when it
// is missing or not valid JSON, so a test that reads it stops there.
nlohmann::json ReadJson(const std::wstring& path);

} // namespace testsupport
