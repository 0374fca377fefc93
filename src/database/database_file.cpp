// The document and the members every module entry has; each format's own
// members and plugin entries come from its unit (formats/format_unit.h).
#include "database/database_file.h"
#include "database/linked_products.h"
#include "formats/format_unit.h"
#include "formats/vst3/vst3_report_parser.h"
#include "database/preset_entries.h"
#include "orvanta/text.h"

namespace orvanta {

using json = Json;

const char LeftOverThreadCrash[] = "a thread it left running crashed the server during a later request";

bool HexIdMember(const json& value, uint32_t* id)
{
    return value.is_string() && ParseHexId(value.get_ref<const std::string&>(), id);
}

void PutText(json& object, const char* name, const std::string& text)
{
    if (!text.empty())
        object[name] = text;
}

namespace {

// The formats a file of this format number may hold, as a reader is told:
// "vst2, vst3 or clap".
std::string FormatChoices(int databaseFormat)
{
    std::vector<const char*> names;
    for (const FormatUnit* unit : AllFormatUnits())
    {
        if (unit->sinceDatabaseFormat <= databaseFormat)
            names.push_back(unit->name);
    }
    std::string text;
    for (size_t i = 0; i < names.size(); i++)
        text += (i == 0 ? "" : i + 1 < names.size() ? ", " : " or ") + std::string(names[i]);
    return text;
}

// A plugin entry's declared links ("replaces"), written when there are any.
void PutLinks(json& entry, const std::vector<FormatLink>& links)
{
    if (links.empty())
        return;
    json list = json::array();
    for (const FormatLink& link : links)
        list.push_back({{"format", FormatName(link.format)}, {"id", link.id}, {"declaredBy", link.declaredBy}});
    entry["replaces"] = list;
}

// One declared link, its ID in its format's form (hex IDs in upper case).
bool ReadLink(MemberReader& read, FormatLink* link)
{
    std::string format;
    if (!read.Text("format", &format, true) || !read.Text("id", &link->id, true) ||
        !read.Text("declaredBy", &link->declaredBy))
        return false;
    if (!ParseFormat(format, &link->format))
        return read.Fail("format", "is not " + FormatChoices(DatabaseFormat));
    const FormatUnit& unit = UnitOf(link->format);
    std::optional<std::string> id = unit.CanonicalId(link->id);
    if (!id)
        return read.Fail("id", std::string("is not ") + unit.IdForm());
    link->id = *id;
    if (link->id.empty())
        return read.Fail("id", "is empty");
    return true;
}

// The reverse of PutLinks.
bool ReadLinks(const json& entry, const std::string& where, std::vector<FormatLink>* links, std::string* error)
{
    auto list = entry.find("replaces");
    if (list == entry.end())
        return true;
    if (!list->is_array())
    {
        *error = where + ".replaces is not a list";
        return false;
    }
    for (size_t i = 0; i < list->size(); i++)
    {
        const json& item = (*list)[i];
        std::string at = where + ".replaces[" + std::to_string(i) + "]";
        if (!item.is_object())
        {
            *error = at + " is not an object";
            return false;
        }
        MemberReader read{item, at, error};
        FormatLink link;
        if (!ReadLink(read, &link))
            return false;
        links->push_back(std::move(link));
    }
    return true;
}

// A plugin entry's ARA member, written when the plugin offers ARA: whether
// it is required, then what says so in its format.
void PutAra(json& entry, const FormatUnit& unit, const std::optional<AraSupport>& ara)
{
    if (!ara)
        return;
    json member = json::object();
    member["required"] = ara->required;
    unit.AraToJson(*ara, member);
    entry["ara"] = member;
}

bool ReadAra(const json& entry, const std::string& where, std::optional<AraSupport>* ara, std::string* error)
{
    auto member = entry.find("ara");
    if (member == entry.end())
        return true;
    if (!member->is_object())
    {
        *error = where + ".ara is not an object";
        return false;
    }
    MemberReader read{*member, where + ".ara", error};
    AraSupport out;
    if (!read.Flag("required", &out.required) || !read.Text("factoryClass", &out.factoryClass) ||
        !read.Text("factory", &out.factory) || !read.Flag("feature", &out.feature))
        return false;
    if (!out.factoryClass.empty() && !ParseClassId(out.factoryClass, &out.factoryClass))
        return read.Fail("factoryClass", "is not 32 hexadecimal digits");
    *ara = out;
    return true;
}

// A text as a JSON string, as the JSON library writes it (broken UTF-8
// replaced); plain ASCII without its own work.
template <typename Char> void AppendQuoted(std::string& out, const std::basic_string<Char>& text)
{
    size_t start = out.size();
    out += '"';
    for (Char c : text)
    {
        if (c < 0x20 || c >= 0x7F)
        {
            out.resize(start);
            std::string utf8;
            if constexpr (sizeof(Char) == 1)
                utf8 = text;
            else
                utf8 = ToUtf8(text);
            out += json(utf8).dump(-1, ' ', false, json::error_handler_t::replace);
            return;
        }
        if (c == '"' || c == '\\')
            out += '\\';
        out += (char)c;
    }
    out += '"';
}

// Moves the format's member of that name into the entry, when it has one.
void PlaceMember(json& own, const char* name, json& entry)
{
    auto member = own.find(name);
    if (member == own.end())
        return;
    entry[name] = std::move(*member);
    own.erase(member);
}

json WindowsToJson(const std::vector<DialogWindow>& windows)
{
    json list = json::array();
    for (const DialogWindow& w : windows)
        list.push_back({{"title", w.title}, {"text", w.text}});
    return list;
}

bool WindowsFromJson(MemberReader& read, std::vector<DialogWindow>* windows)
{
    auto list = read.object.find("windows");
    if (list == read.object.end())
        return true;
    if (!list->is_array())
        return read.Fail("windows", "is not a list");
    for (const json& w : *list)
    {
        DialogWindow window;
        MemberReader wread{w, read.where + ".windows[]", read.error};
        if (!w.is_object())
            return read.Fail("windows", "holds an entry that is not an object");
        if (!wread.Text("title", &window.title) || !wread.Text("text", &window.text))
            return false;
        windows->push_back(window);
    }
    return true;
}

json PluginsToJson(const FormatUnit& unit, const std::vector<PluginEntry>& plugins)
{
    json list = json::array();
    for (const PluginEntry& p : plugins)
    {
        list.push_back(unit.PluginToJson(p));
        PutLinks(list.back(), p.replaces);
        PutAra(list.back(), unit, p.ara);
    }
    return list;
}

bool PluginsFromJson(const FormatUnit& unit, MemberReader& read, std::vector<PluginEntry>* plugins)
{
    auto list = read.object.find("plugins");
    if (list == read.object.end())
        return true;
    if (!list->is_array())
        return read.Fail("plugins", "is not a list");
    for (size_t i = 0; i < list->size(); i++)
    {
        const json& item = (*list)[i];
        std::string where = read.where + ".plugins[" + std::to_string(i) + "]";
        if (!item.is_object())
        {
            *read.error = where + " is not an object";
            return false;
        }
        MemberReader pread{item, where, read.error};
        PluginEntry plugin;
        if (!unit.PluginFromJson(pread, &plugin) || !ReadLinks(item, where, &plugin.replaces, read.error) ||
            !ReadAra(item, where, &plugin.ara, read.error))
            return false;
        plugins->push_back(std::move(plugin));
    }
    return true;
}

// The module's format: format 1 knew VST 2 modules alone, and had no member
// to say so; a format is known from the file format its unit came with.
bool FormatFromJson(MemberReader& read, int format, PluginFormat* out)
{
    if (format == OldDatabaseFormat)
        return true;
    std::string name;
    if (!read.Text("format", &name, true))
        return false;
    if (!ParseFormat(name, out))
        return read.Fail("format", "is not " + FormatChoices(DatabaseFormat));
    if (format < UnitOf(*out).sinceDatabaseFormat)
        return read.Fail("format", "is not " + FormatChoices(format));
    return true;
}

// The members every module has after its format.
bool SharedFromJson(MemberReader& read, ModuleRecord* record)
{
    ModuleResult& m = record->result;
    uint32_t exitCode = 0;
    bool hasExitCode = read.object.contains("exitCode");
    CrashInfo crash;
    if (!read.Number("size", &record->size, true) || !read.Text("modified", &record->modified, true) ||
        !read.StatusOf(&m.status) || !read.Number("attempts", &m.attempts) ||
        !read.Number("scanMs", &m.scanMs) || !read.Text("error", &m.error) ||
        !read.Text("loadProblem", &m.loadProblem) || !read.Text("dump", &crash.dumpPath) || !read.Number("exitCode", &exitCode) ||
        !read.Text("faultingModule", &crash.faultingModule) || !read.Text("machine", &m.machine) ||
        !read.Texts("architectures", &m.architectures))
        return false;
    if (hasExitCode)
        m.exitCode = (int)exitCode;
    auto code = read.object.find("exceptionCode");
    if (code != read.object.end() && !HexIdMember(*code, &crash.exceptionCode))
        return read.Fail("exceptionCode", "is not eight hexadecimal digits");
    // The file keeps a crash's findings as members of the entry.
    if (m.status == Status::crashed || !crash.dumpPath.empty() || !crash.faultingModule.empty() ||
        crash.exceptionCode)
    {
        crash.leftOverThread = m.error == LeftOverThreadCrash;
        m.crash = std::move(crash);
    }
    return WindowsFromJson(read, &m.windows);
}

} // namespace

json RecordToJson(const ModuleRecord& record)
{
    const ModuleResult& m = record.result;
    const FormatUnit& unit = UnitOf(m.format);
    json own = unit.ModuleToJson(m);
    json entry = json::object();
    entry["path"] = ToUtf8(m.path);
    entry["format"] = unit.name;
    PlaceMember(own, "binary", entry);
    PutText(entry, "machine", m.machine);
    PlaceMember(own, "architectures", entry);
    entry["size"] = record.size;
    entry["modified"] = record.modified;
    entry["status"] = StatusName(m.status);
    entry["attempts"] = m.attempts;
    entry["scanMs"] = m.scanMs;
    PutText(entry, "error", m.error);
    PlaceMember(own, "phase", entry);
    PutText(entry, "loadProblem", m.loadProblem);
    if (m.crash)
        PutText(entry, "dump", m.crash->dumpPath);
    // Exit codes are unsigned on Windows (0xC0000005 is 3221225477).
    if (m.exitCode)
        entry["exitCode"] = (uint32_t)*m.exitCode;
    if (m.crash)
    {
        PutText(entry, "faultingModule", m.crash->faultingModule);
        if (m.crash->exceptionCode)
            entry["exceptionCode"] = HexId(m.crash->exceptionCode);
    }
    if (!m.windows.empty())
        entry["windows"] = WindowsToJson(m.windows);
    for (auto& member : own.items())
        entry[member.key()] = std::move(member.value());
    if (!m.plugins.empty())
        entry["plugins"] = PluginsToJson(unit, m.plugins);
    if (m.presets)
        entry["presets"] = PresetsToJson(*m.presets);
    return entry;
}

bool RecordFromJson(const json& entry, ModuleRecord* record, std::string* error, int format)
{
    if (!entry.is_object())
    {
        *error = "a module entry is not an object";
        return false;
    }
    std::string path;
    MemberReader read{entry, "module", error};
    if (!read.Text("path", &path, true))
        return false;
    if (path.empty())
        return read.Fail("path", "is empty");
    read.where = "module '" + path + "'";
    ModuleResult& m = record->result;
    m.path = ToWide(path);
    if (!FormatFromJson(read, format, &m.format))
        return false;
    const FormatUnit& unit = UnitOf(m.format);
    if (!SharedFromJson(read, record) || !unit.ModuleFromJson(read, &m) || !PluginsFromJson(unit, read, &m.plugins) ||
        !PresetsFromJson(read, &m.presets))
        return false;
    if (format < DatabaseFormat)
        unit.CarryOver(&m);
    return true;
}

// Texts that are not valid UTF-8 (a plugin's raw bytes, a broken path) are
// written with U+FFFD in their place rather than failing the write.
std::string EntryText(const ModuleRecord& record)
{
    std::string text = RecordToJson(record).dump(2, ' ', false, json::error_handler_t::replace);
    // Inside the document an entry stands two levels deep.
    std::string indented = "    ";
    indented.reserve(text.size() + text.size() / 8);
    for (char c : text)
    {
        indented += c;
        if (c == '\n')
            indented += "    ";
    }
    return indented;
}

std::string ProductsText(const std::vector<const ModuleRecord*>& modules)
{
    // Written as the JSON library writes the list one level deep with an
    // indent of two, straight from the grouping: the list is made again on
    // every write, and may hold thousands of products.
    LinkedProducts linked = GroupProducts(modules);
    if (linked.products.empty())
        return "[]";
    std::string text = "[\n";
    text.reserve(linked.plugins.size() * 256);
    for (size_t p = 0; p < linked.products.size(); p++)
    {
        const auto& range = linked.products[p];
        const LinkedPlugin& first = linked.plugins[range.first];
        text += "    {\n      \"name\": ";
        AppendQuoted(text, *first.name);
        text += ",\n      \"vendor\": ";
        AppendQuoted(text, *first.vendor);
        text += ",\n      \"formats\": [";
        for (size_t i = range.first; i < range.second; i++)
        {
            if (i == range.first || linked.plugins[i].format != linked.plugins[i - 1].format)
                text += std::string(i == range.first ? "\n" : ",\n") + "        \"" +
                        FormatName(linked.plugins[i].format) + "\"";
        }
        text += "\n      ],\n      \"plugins\": [\n";
        for (size_t i = range.first; i < range.second; i++)
        {
            const LinkedPlugin& plugin = linked.plugins[i];
            text += "        {\n          \"format\": \"";
            text += FormatName(plugin.format);
            text += "\",\n          \"path\": ";
            AppendQuoted(text, *plugin.path);
            text += ",\n          \"id\": ";
            AppendQuoted(text, plugin.id);
            if (!plugin.machine->empty())
            {
                text += ",\n          \"machine\": ";
                AppendQuoted(text, *plugin.machine);
            }
            text += ",\n          \"link\": \"";
            text += plugin.link;
            text += i + 1 < range.second ? "\"\n        },\n" : "\"\n        }\n";
        }
        text += p + 1 < linked.products.size() ? "      ]\n    },\n" : "      ]\n    }\n";
    }
    return text + "  ]";
}

std::string BlockedText(const std::vector<BlockedModule>& blocked)
{
    if (blocked.empty())
        return "";
    Json list = Json::array();
    for (const BlockedModule& module : blocked)
        list.push_back({{"path", ToUtf8(module.path)}, {"reason", module.reason}, {"when", module.when}});
    // Indented as a member of the document.
    std::string text = list.dump(2, ' ', false, json::error_handler_t::replace), indented;
    for (char c : text)
    {
        indented += c;
        if (c == '\n')
            indented += "  ";
    }
    return indented;
}

std::string DocumentFromEntries(const std::string& server, const std::vector<const std::string*>& entries,
                                const std::string& products, const std::string& blocked)
{
    // The layout is the one a JSON library writes with an indent of two.
    std::string text = "{\n  \"format\": " + std::to_string(DatabaseFormat) + ",\n  \"server\": " +
                       json(server).dump(-1, ' ', false, json::error_handler_t::replace) + ",\n  \"modules\": ";
    const std::string end = ",\n  \"products\": " + products +
                            (blocked.empty() ? "" : ",\n  \"blocked\": " + blocked) + "\n}\n";
    if (entries.empty())
        return text + "[]" + end;
    size_t size = text.size() + 16;
    for (const std::string* entry : entries)
        size += entry->size() + 2;
    text.reserve(size);
    text += "[\n";
    for (size_t i = 0; i < entries.size(); i++)
    {
        text += *entries[i];
        text += i + 1 < entries.size() ? ",\n" : "\n";
    }
    return text + "  ]" + end;
}

std::string DocumentText(const std::string& server, const std::vector<const ModuleRecord*>& modules,
                         const std::vector<BlockedModule>& blocked)
{
    std::vector<std::string> texts;
    texts.reserve(modules.size());
    for (const ModuleRecord* record : modules)
        texts.push_back(EntryText(*record));
    std::vector<const std::string*> entries;
    for (const std::string& text : texts)
        entries.push_back(&text);
    return DocumentFromEntries(server, entries, ProductsText(modules), BlockedText(blocked));
}

namespace {

// The document's "blocked" list; a document without one blocks nothing.
bool ReadBlocked(const json& document, std::vector<BlockedModule>* blocked, std::string* error)
{
    auto list = document.find("blocked");
    if (list == document.end())
        return true;
    if (!list->is_array())
    {
        *error = "blocked is not a list";
        return false;
    }
    for (size_t i = 0; i < list->size(); i++)
    {
        const json& item = (*list)[i];
        const std::string where = "blocked[" + std::to_string(i) + "]";
        BlockedModule module;
        auto text = [&](const char* name, std::string* value) {
            auto member = item.is_object() ? item.find(name) : item.end();
            if (member == item.end() || !member->is_string())
                return false;
            *value = member->get<std::string>();
            return true;
        };
        std::string path;
        if (!text("path", &path) || path.empty() || !text("reason", &module.reason) || !text("when", &module.when))
        {
            *error = where + " is not an object with the texts path, reason and when";
            return false;
        }
        module.path = ToWide(path);
        blocked->push_back(std::move(module));
    }
    return true;
}

} // namespace

bool ParseDocument(const std::string& bytes, std::string* server, std::vector<ModuleRecord>* modules,
                   std::vector<BlockedModule>* blocked, std::string* error)
{
    json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded())
    {
        *error = "it is not valid JSON";
        return false;
    }
    if (!document.is_object() || !document.contains("format") || !document["format"].is_number_integer())
    {
        *error = "it has no format number";
        return false;
    }
    long long format = document["format"].get<long long>();
    if (format < OldDatabaseFormat || format > DatabaseFormat)
    {
        *error = "its format " + document["format"].dump() + " is not format 5, 4, 3, 2 or 1";
        return false;
    }
    auto serverMember = document.find("server");
    if (serverMember != document.end() && !serverMember->is_string())
    {
        *error = "server is not a text";
        return false;
    }
    auto list = document.find("modules");
    if (list == document.end() || !list->is_array())
    {
        *error = "it has no list of modules";
        return false;
    }
    std::vector<ModuleRecord> read;
    read.reserve(list->size());
    for (const json& entry : *list)
    {
        ModuleRecord record;
        if (!RecordFromJson(entry, &record, error, (int)format))
            return false;
        read.push_back(std::move(record));
    }
    std::vector<BlockedModule> blocks;
    if (!ReadBlocked(document, &blocks, error))
        return false;
    *blocked = std::move(blocks);
    *modules = std::move(read);
    *server = serverMember != document.end() ? serverMember->get<std::string>() : std::string();
    return true;
}

} // namespace orvanta
