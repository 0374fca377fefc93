// Inside the database: the JSON form of one entry, and the atomic file write.
#pragma once
#include "orvanta_scan.h"
#include <nlohmann/json.hpp>
#include <string>

namespace orvanta {

// Members keep the order in which they are written, as a reader expects them.
using Json = nlohmann::ordered_json;

// The file's format number; a file of another number is refused.
constexpr int DatabaseFormat = 1;

// One module entry in the shape of the file; members without a value are
// left out.
Json RecordToJson(const ModuleRecord& record);
// The reverse; false with the reason (naming the member) for an entry of
// another shape.
bool RecordFromJson(const Json& entry, ModuleRecord* record, std::string* error);

// A whole document: format, server and the given entries in their order.
std::string DocumentText(const std::string& server, const std::vector<const ModuleRecord*>& modules);
// The same from entries already written out: one entry as it stands in the
// document, and the document around such entries. The database keeps each
// entry's text, so a rewrite after one more module does not format the
// thousands of others again.
std::string EntryText(const ModuleRecord& record);
std::string DocumentFromEntries(const std::string& server, const std::vector<const std::string*>& entries);

// Writes a temporary file beside the target, flushes it and moves it over the
// target with replace and write-through, so a reader sees the old file or the
// new one, never a part. False with the reason when any step failed.
bool WriteFileAtomically(const std::wstring& path, const std::string& bytes, std::string* error);

// The key under which a path is kept: two spellings of one Windows path in
// other letter cases are one module.
std::wstring PathKey(const std::wstring& path);

} // namespace orvanta
