// Reading a VST3 bundle's moduleinfo.json, and holding it against what the
// factory reported.
#include "orvanta/module_info.h"
#include "formats/vst3/bundle_binary.h"
#include "formats/vst3/vst3_host_rules.h"
#include "discovery/module_files.h"
#include "discovery/module_image.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <nlohmann/json.hpp>
#include <windows.h>
#include <cctype>
#include <chrono>
#include <map>

namespace orvanta {

using nlohmann::json;

namespace {

const char* const File = "moduleinfo.json";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Upper(std::string text)
{
    for (char& c : text)
    {
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    return text;
}

bool IsClassId(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (char c : text)
    {
        if (!std::isxdigit((unsigned char)c))
            return false;
    }
    return true;
}

// Reads members of one object, each of the type asked for; a member that
// is there with another type is a finding (a missing one is left empty).
class Members
{
public:
    Members(const json& object, std::string where, std::vector<std::string>* findings)
        : m_object(object), m_where(std::move(where)), m_findings(findings)
    {
    }
    void Text(const char* name, std::string* out)
    {
        if (const json* value = Find(name, json::value_t::string, "a text"))
            *out = value->get<std::string>();
    }
    template <typename Number> void Integer(const char* name, Number* out)
    {
        const json* value = Find(name, json::value_t::number_integer, "a whole number");
        if (value && value->is_number_integer())
            *out = (Number)value->get<long long>();
    }
    void TextList(const char* name, std::vector<std::string>* out)
    {
        const json* value = Find(name, json::value_t::array, "a list of texts");
        if (!value)
            return;
        for (const json& item : *value)
        {
            if (!item.is_string())
            {
                Wrong(name, "a list of texts");
                out->clear();
                return;
            }
            out->push_back(item.get<std::string>());
        }
    }
    const json* Object(const char* name) { return Find(name, json::value_t::object, "an object"); }

private:
    const json* Find(const char* name, json::value_t type, const char* what)
    {
        auto it = m_object.find(name);
        if (it == m_object.end())
            return nullptr;
        bool fits = it->type() == type || (type == json::value_t::number_integer && it->is_number_integer());
        if (!fits)
        {
            Wrong(name, what);
            return nullptr;
        }
        return &*it;
    }
    void Wrong(const char* name, const char* what)
    {
        m_findings->push_back(std::string(File) + ": " + m_where + "\"" + name + "\" is not " + what);
    }

    const json& m_object;
    std::string m_where;
    std::vector<std::string>* m_findings;
};

// The factory's flags as the file names them, by their bit in the factory
// info's flags.
int32_t FactoryFlags(const json& flags)
{
    static const std::pair<const char*, int32_t> bits[] = {
        {"Classes Discardable", 1}, {"License Check", 2}, {"Component Non Discardable", 8}, {"Unicode", 16}};
    int32_t value = 0;
    for (const auto& bit : bits)
    {
        auto it = flags.find(bit.first);
        if (it != flags.end() && it->is_boolean() && it->get<bool>())
            value |= bit.second;
    }
    return value;
}

bool ReadWhole(const std::wstring& path, std::string* bytes, std::string* finding)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        *finding = std::string(File) + " cannot be read (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok && (uint64_t)size.QuadPart > ModuleInfoSizeLimit)
    {
        *finding = std::string(File) + " is " + std::to_string(size.QuadPart) + " bytes, over the limit of " +
                   std::to_string(ModuleInfoSizeLimit) + "; not read";
        CloseHandle(file);
        return false;
    }
    bytes->assign(ok ? (size_t)size.QuadPart : 0, '\0');
    DWORD got = 0;
    ok = ok && (bytes->empty() || ReadFile(file, &(*bytes)[0], (DWORD)bytes->size(), &got, nullptr));
    if (!ok)
        *finding = std::string(File) + " cannot be read (error " + std::to_string(GetLastError()) + ")";
    bytes->resize(got);
    CloseHandle(file);
    return ok;
}

// JSON5 made strict JSON: each comment and each trailing comma becomes
// blanks (line breaks kept), so the parser's line and column still point
// into the original. False (and *error) for a comment that never ends.
bool StripJson5(const std::string& text, std::string* out, std::string* error)
{
    // Comments first, so that a comma before a comment before "}" is seen as
    // the trailing comma it is.
    std::string json = text;
    const size_t n = json.size();
    for (size_t i = 0; i < n; i++)
    {
        char c = json[i];
        if (c == '"')
        {
            for (i++; i < n && json[i] != '"'; i++)
            {
                if (json[i] == '\\')
                    i++;
            }
        }
        else if (c == '/' && i + 1 < n && json[i + 1] == '/')
        {
            for (; i < n && json[i] != '\n'; i++)
                json[i] = ' ';
        }
        else if (c == '/' && i + 1 < n && json[i + 1] == '*')
        {
            size_t end = json.find("*/", i + 2);
            if (end == std::string::npos)
            {
                *error = "a comment that is never closed";
                return false;
            }
            for (; i < end + 2; i++)
            {
                if (json[i] != '\n' && json[i] != '\r')
                    json[i] = ' ';
            }
            i--;
        }
    }
    for (size_t i = 0; i < n; i++)
    {
        char c = json[i];
        if (c == '"')
        {
            for (i++; i < n && json[i] != '"'; i++)
            {
                if (json[i] == '\\')
                    i++;
            }
        }
        else if (c == ',')
        {
            // Only a comma that ends a list: "[," and ",," stay for the
            // parser to refuse.
            size_t before = i;
            while (before > 0 && IsBlank(json[before - 1]))
                before--;
            if (before == 0 || json[before - 1] == '[' || json[before - 1] == '{' || json[before - 1] == ',')
                continue;
            size_t next = i + 1;
            while (next < n && IsBlank(json[next]))
                next++;
            if (next < n && (json[next] == '}' || json[next] == ']'))
                json[i] = ' ';
        }
    }
    *out = std::move(json);
    return true;
}

// The "Compatibility" list; an entry that is not of its shape is a
// finding and left out, an Old ID that is not a class ID likewise.
void ReadCompatibility(const json& document, ModuleInfo* info)
{
    auto list = document.find("Compatibility");
    if (list == document.end())
        return;
    const std::string head = std::string(File) + ": \"Compatibility\"";
    if (!list->is_array())
    {
        info->findings.push_back(head + " is not a list");
        return;
    }
    for (size_t i = 0; i < list->size(); i++)
    {
        const json& entry = (*list)[i];
        std::string where = head + " entry " + std::to_string(i + 1);
        auto newId = entry.is_object() ? entry.find("New") : entry.end();
        if (!entry.is_object() || newId == entry.end() || !newId->is_string() ||
            !IsClassId(newId->get<std::string>()))
        {
            info->findings.push_back(where + " has no \"New\" of 32 hexadecimal digits");
            continue;
        }
        auto old = entry.find("Old");
        if (old == entry.end() || !old->is_array())
        {
            info->findings.push_back(where + " has no \"Old\" list");
            continue;
        }
        Vst3Compatibility item;
        item.newId = Upper(newId->get<std::string>());
        for (const json& id : *old)
        {
            if (id.is_string() && IsClassId(id.get<std::string>()))
                item.oldIds.push_back(Upper(id.get<std::string>()));
            else
                info->findings.push_back(where + ": \"Old\" holds " + id.dump() +
                                         ", not 32 hexadecimal digits");
        }
        info->compatibility.push_back(std::move(item));
    }
}

ModuleInfo ParseModuleInfo(const std::string& text)
{
    ModuleInfo info;
    std::string strict, error;
    if (!StripJson5(text, &strict, &error))
    {
        info.findings.push_back(std::string(File) + " is not valid JSON5: " + error);
        return info;
    }
    json document;
    try
    {
        document = json::parse(strict);
    }
    catch (const json::exception& e)
    {
        // The parser's words say where: "parse error at line 3, column 5: ...".
        error = e.what();
        size_t tag = error.find("] ");
        if (error.compare(0, 1, "[") == 0 && tag != std::string::npos)
            error = error.substr(tag + 2);
        info.findings.push_back(std::string(File) + " is not valid JSON5: " + error);
        return info;
    }
    if (!document.is_object())
    {
        info.findings.push_back(std::string(File) + " holds no object");
        return info;
    }
    info.read = true;
    Members top(document, "", &info.findings);
    if (const json* factory = top.Object("Factory Info"))
    {
        Members members(*factory, "\"Factory Info\": ", &info.findings);
        members.Text("Vendor", &info.factory.vendor);
        members.Text("URL", &info.factory.url);
        members.Text("E-Mail", &info.factory.email);
        if (const json* flags = members.Object("Flags"))
            info.factory.flags = FactoryFlags(*flags);
    }
    ReadCompatibility(document, &info);
    auto classes = document.find("Classes");
    if (classes == document.end() || !classes->is_array())
    {
        info.findings.push_back(std::string(File) + " has no \"Classes\" list");
        return info;
    }
    std::map<std::string, bool> seen;
    for (size_t i = 0; i < classes->size(); i++)
    {
        const json& entry = (*classes)[i];
        std::string where = "class " + std::to_string(i + 1);
        if (!entry.is_object())
        {
            info.findings.push_back(std::string(File) + ": " + where + " is not an object");
            continue;
        }
        Vst3Class c;
        auto cid = entry.find("CID");
        if (cid != entry.end() && cid->is_string())
            c.classId = cid->get<std::string>();
        if (!IsClassId(c.classId))
        {
            info.findings.push_back(std::string(File) + ": " + where + " has no \"CID\" of 32 hexadecimal digits");
            continue;
        }
        c.classId = Upper(c.classId);
        if (seen[c.classId])
        {
            info.findings.push_back(std::string(File) + ": class " + c.classId + " is listed twice");
            continue;
        }
        seen[c.classId] = true;
        Members named(entry, "class " + c.classId + ": ", &info.findings);
        named.Text("Category", &c.category);
        named.Text("Name", &c.name);
        named.Text("Vendor", &c.vendor);
        named.Text("Version", &c.version);
        named.Text("SDKVersion", &c.sdkVersion);
        named.TextList("Sub Categories", &c.subCategories);
        named.Integer("Class Flags", &c.classFlags);
        named.Integer("Cardinality", &c.cardinality);
        c.sources = {Vst3FromModuleInfo};
        info.classes.push_back(std::move(c));
    }
    // Read by the rule the factory's classes are: a class without a vendor
    // shows the factory's.
    ApplyFactoryVendor(info.factory.vendor, &info.classes);
    return info;
}

// Contents\Resources\moduleinfo.json, else Contents\moduleinfo.json; "".
std::wstring FindModuleInfo(const std::wstring& bundle)
{
    for (const wchar_t* place : {L"\\Contents\\Resources\\moduleinfo.json", L"\\Contents\\moduleinfo.json"})
    {
        std::wstring path = bundle + place;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return path;
    }
    return L"";
}

} // namespace

ModuleInfo ReadModuleInfo(const std::wstring& bundle)
{
    std::wstring path = FindModuleInfo(bundle);
    if (path.empty())
        return ModuleInfo();
    std::string bytes, finding;
    ModuleInfo info;
    try
    {
        if (ReadWhole(path, &bytes, &finding))
            info = ParseModuleInfo(bytes);
        else
            info.findings.push_back(finding);
    }
    catch (const std::exception& e)
    {
        info = ModuleInfo();
        info.findings.push_back(std::string(File) + " cannot be read: " + e.what());
    }
    info.path = path;
    return info;
}

std::vector<std::string> CompareModuleInfo(const std::vector<Vst3Class>& fromFile,
                                           const std::vector<Vst3Class>& fromFactory)
{
    std::map<std::string, const Vst3Class*> factory, file;
    for (const Vst3Class& c : fromFactory)
    {
        if (!c.classId.empty() && !factory.count(Upper(c.classId)))
            factory[Upper(c.classId)] = &c;
    }
    for (const Vst3Class& c : fromFile)
    {
        if (!file.count(Upper(c.classId)))
            file[Upper(c.classId)] = &c;
    }
    std::vector<std::string> findings;
    for (const Vst3Class& c : fromFile)
    {
        std::string id = Upper(c.classId);
        if (file[id] != &c)
            continue; // listed twice: the file's own finding says so
        auto other = factory.find(id);
        if (other == factory.end())
        {
            findings.push_back("class " + id + " ('" + c.name + "'): in moduleinfo.json, not listed by the factory");
            continue;
        }
        const Vst3Class& f = *other->second;
        const std::pair<const char*, std::pair<const std::string*, const std::string*>> members[] = {
            {"name", {&c.name, &f.name}},
            {"vendor", {&c.vendor, &f.vendor}},
            {"version", {&c.version, &f.version}},
            {"category", {&c.category, &f.category}}};
        for (const auto& m : members)
        {
            if (*m.second.first != *m.second.second)
                findings.push_back("class " + id + ": " + m.first + " '" + *m.second.first + "' in moduleinfo.json, '" +
                                   *m.second.second + "' from the factory");
        }
    }
    for (const Vst3Class& c : fromFactory)
    {
        std::string id = Upper(c.classId);
        if (!c.classId.empty() && factory[id] == &c && !file.count(id))
            findings.push_back("class " + id + " ('" + c.name + "'): listed by the factory, not in moduleinfo.json");
    }
    return findings;
}

void AddDeclaredLinks(const ModuleInfo& info, std::vector<PluginEntry>* classes)
{
    // A VST 2 plugin's ID as a class ID: "VST", its ID, its name.
    const std::string vst2Head = "565354";
    for (const Vst3Compatibility& item : info.compatibility)
    {
        for (PluginEntry& entry : *classes)
        {
            if (!entry.vst3 || entry.vst3->classId != item.newId)
                continue;
            for (const std::string& old : item.oldIds)
            {
                std::vector<FormatLink> links = {{PluginFormat::vst3, old, Vst3FromModuleInfo}};
                if (old.compare(0, vst2Head.size(), vst2Head) == 0)
                    links.push_back({PluginFormat::vst2, old.substr(vst2Head.size(), 8), Vst3FromModuleInfo});
                for (const FormatLink& link : links)
                {
                    bool known = false;
                    for (const FormatLink& had : entry.replaces)
                        known = known || (had.format == link.format && had.id == link.id);
                    if (!known)
                        entry.replaces.push_back(link);
                }
            }
        }
    }
}

std::optional<ModuleResult> ModuleInfoResult(const std::wstring& bundle, bool x86Too)
{
    auto start = std::chrono::steady_clock::now();
    std::wstring binary = Vst3BundleBinary(bundle, x86Too);
    DWORD attributes = GetFileAttributesW(binary.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    ModuleInfo info = ReadModuleInfo(bundle);
    if (info.path.empty() || !info.read || !info.findings.empty() || info.classes.empty())
        return std::nullopt;
    ModuleResult result;
    result.path = bundle;
    result.format = PluginFormat::vst3;
    result.status = Status::ok;
    result.attempts = 0;
    result.binary = binary;
    result.factory = info.factory;
    result.classCount = (int)info.classes.size();
    result.moduleInfoOnly = true;
    result.machine = MachineName(ReadModuleImage(binary, false));
    result.architectures = Vst3BundleArchitectures(bundle);
    for (Vst3Class& c : info.classes)
    {
        PluginEntry entry;
        entry.status = Status::ok;
        entry.attempts = 0;
        entry.vst3 = std::move(c);
        result.plugins.push_back(std::move(entry));
    }
    AddDeclaredLinks(info, &result.plugins);
    result.findings = MarkVst3Ara(&result.plugins);
    result.scanMs = (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    return result;
}

} // namespace orvanta
