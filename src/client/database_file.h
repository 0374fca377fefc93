// The database file's format, both ways: the document, its module entries
// and their plugin entries. docs/database-format.md describes it for other
// programs.
#pragma once
#include "orvanta/database.h"
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvanta {

// Members keep the order in which they are written, as a reader expects them.
using Json = nlohmann::ordered_json;

// The file's format number, which every write gives. Files of format 3
// (without machines, editors, ARA and the factory's vendor on VST3
// classes, which reading them supplies where the entry allows), 2 (without
// CLAP) and 1 (VST 2 modules alone, without the module's format member) are
// read as well; a file of any other number is refused.
constexpr int DatabaseFormat = 4;
constexpr int ClapDatabaseFormat = 3; // the first with CLAP modules
constexpr int OldDatabaseFormat = 1;

// The error text the database gives for the entry of a module crashed by a
// thread it left running, found during a later request.
extern const char LeftOverThreadCrash[];

// One module entry in the shape of the file; members without a value are
// left out.
Json RecordToJson(const ModuleRecord& record);
// The reverse, for an entry of a file of the given format; false with the
// reason (naming the member) for an entry of another shape.
bool RecordFromJson(const Json& entry, ModuleRecord* record, std::string* error,
                    int format = DatabaseFormat);

// One entry as it stands in the document (indented), and the document
// around such entries. The database keeps each entry's text, so a rewrite
// after one more module does not format the thousands of others again.
std::string EntryText(const ModuleRecord& record);
// The "products" list of these entries (orvanta/products.h) as it stands in
// the document, made again on every write.
std::string ProductsText(const std::vector<const ModuleRecord*>& modules);
std::string DocumentFromEntries(const std::string& server, const std::vector<const std::string*>& entries,
                                const std::string& products);
// A whole document: format, server, the given entries in their order and
// their products.
std::string DocumentText(const std::string& server, const std::vector<const ModuleRecord*>& modules);

// Reads a whole document of format 4, 3, 2 or 1; false with the reason ("it
// is not valid JSON", "its format 5 is not format 4, 3, 2 or 1", a member of an
// entry) when the bytes are not such a database.
bool ParseDocument(const std::string& bytes, std::string* server, std::vector<ModuleRecord>* modules,
                   std::string* error);

} // namespace orvanta
