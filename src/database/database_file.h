// The database file's format, both ways: the document and its module
// entries with the members every format shares; each plugin format's own
// members and plugin entries are its unit's (formats/format_unit.h).
// docs/database-format.md describes it for other programs.
#pragma once
#include "orvanta/database.h"
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace orvanta {

// Members keep the order in which they are written, as a reader expects them.
using Json = nlohmann::ordered_json;

// The file's format number, which every write gives. Files of format 4
// (without presets), 3
// (without machines, editors, ARA and the factory's vendor on VST3
// classes, which reading them supplies where the entry allows), 2 (without
// CLAP) and 1 (VST 2 modules alone, without the module's format member) are
// read as well; a file of any other number is refused.
constexpr int DatabaseFormat = 5;
constexpr int OldDatabaseFormat = 1;

// The error text the database gives for the entry of a module crashed by a
// thread it left running, found during a later request.
extern const char LeftOverThreadCrash[];

// Reads the members of one object of an entry: absent members keep the
// default, a member of the wrong type fails naming it ("module 'X'.size is
// not a whole number of at least 0"). The formats' units read theirs with it.
struct MemberReader
{
    const Json& object;
    std::string where; // the object, as the failure names it
    std::string* error;

    bool Fail(const char* name, const std::string& what)
    {
        *error = where + "." + name + " " + what;
        return false;
    }
    bool Text(const char* name, std::string* out, bool required = false)
    {
        auto it = object.find(name);
        if (it == object.end())
            return required ? Fail(name, "is missing") : true;
        if (!it->is_string())
            return Fail(name, "is not a text");
        *out = it->get<std::string>();
        return true;
    }
    template <typename T> bool Number(const char* name, T* out, bool required = false)
    {
        auto it = object.find(name);
        if (it == object.end())
            return required ? Fail(name, "is missing") : true;
        if (!it->is_number_integer() || (std::is_unsigned<T>::value && !it->is_number_unsigned()))
            return Fail(name, std::is_unsigned<T>::value ? "is not a whole number of at least 0"
                                                         : "is not a whole number");
        *out = it->get<T>();
        return true;
    }
    bool Flag(const char* name, bool* out)
    {
        auto it = object.find(name);
        if (it == object.end())
            return true;
        if (!it->is_boolean())
            return Fail(name, "is not true or false");
        *out = it->get<bool>();
        return true;
    }
    bool OptionalFlag(const char* name, std::optional<bool>* out)
    {
        if (!object.contains(name))
            return true;
        bool value = false;
        if (!Flag(name, &value))
            return false;
        *out = value;
        return true;
    }
    bool Texts(const char* name, std::vector<std::string>* out)
    {
        auto it = object.find(name);
        if (it == object.end())
            return true;
        if (!it->is_array())
            return Fail(name, "is not a list");
        out->clear();
        for (const Json& item : *it)
        {
            if (!item.is_string())
                return Fail(name, "holds an entry that is not a text");
            out->push_back(item.get<std::string>());
        }
        return true;
    }
    bool StatusOf(Status* out)
    {
        std::string text;
        if (!Text("status", &text, true))
            return false;
        if (!ParseStatus(text, out))
            return Fail("status", "is not ok, failed, crashed, timeout or lost");
        return true;
    }
};

// A text member written only when it is not empty.
void PutText(Json& object, const char* name, const std::string& text);
// An ID member: a text of eight hexadecimal digits.
bool HexIdMember(const Json& value, uint32_t* id);

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
// The "blocked" list as it stands in the document; "" when there is none,
// and the document then has no such member.
std::string BlockedText(const std::vector<BlockedModule>& blocked);
std::string DocumentFromEntries(const std::string& server, const std::vector<const std::string*>& entries,
                                const std::string& products, const std::string& blocked);
// A whole document: format, server, the given entries in their order,
// their products and the blocked modules.
std::string DocumentText(const std::string& server, const std::vector<const ModuleRecord*>& modules,
                         const std::vector<BlockedModule>& blocked);

// Reads a whole document of format 4, 3, 2 or 1; false with the reason ("it
// is not valid JSON", "its format 6 is not format 5, 4, 3, 2 or 1", a member of an
// entry) when the bytes are not such a database.
bool ParseDocument(const std::string& bytes, std::string* server, std::vector<ModuleRecord>* modules,
                   std::vector<BlockedModule>* blocked, std::string* error);

} // namespace orvanta
