// The VST3 blocks are strict JSON, so a standard parser reads them; what is
// checked here is their shape: every member present, of its type, in range.
#include "vst3_report_parser.h"
#include <nlohmann/json.hpp>
#include <cstdint>

namespace orvanta {
namespace {

using json = nlohmann::json;

// Reads the members of one object, remembering the first problem.
class Members
{
public:
    Members(const json& object, std::string where, std::string* problem)
        : m_object(object), m_where(std::move(where)), m_problem(problem)
    {
    }

    const json* Find(const char* key, json::value_t type, const char* wanted)
    {
        std::string name = m_where + key;
        auto it = m_object.find(key);
        if (it == m_object.end())
            return Fail("member \"" + name + "\" missing");
        bool number = type == json::value_t::number_integer;
        bool fits = number ? it->is_number_integer() : it->type() == type;
        if (!fits)
            return Fail("member \"" + name + "\" is not " + wanted);
        return &*it;
    }
    void Text(const char* key, std::string* out)
    {
        if (const json* v = Find(key, json::value_t::string, "a text"))
            *out = v->get<std::string>();
    }
    void Flag(const char* key, bool* out)
    {
        if (const json* v = Find(key, json::value_t::boolean, "true or false"))
            *out = v->get<bool>();
    }
    // A whole number between low and high.
    bool Whole(const char* key, long long low, long long high, long long* out)
    {
        const json* v = Find(key, json::value_t::number_integer, "a whole number");
        if (!v)
            return false;
        // Beyond the signed range only an unsigned number can be.
        long long value = v->is_number_unsigned() && v->get<uint64_t>() > (uint64_t)INT64_MAX
                              ? INT64_MAX
                              : v->get<long long>();
        if (value < low || value > high)
        {
            Fail("member \"" + m_where + key + "\" is out of range");
            return false;
        }
        *out = value;
        return true;
    }
    void Int(const char* key, int* out)
    {
        long long value = 0;
        if (Whole(key, INT32_MIN, INT32_MAX, &value))
            *out = (int)value;
    }
    // 32 bits of flags, written signed or unsigned.
    void Bits(const char* key, uint32_t* out)
    {
        long long value = 0;
        if (Whole(key, INT32_MIN, UINT32_MAX, &value))
            *out = (uint32_t)value;
    }
    const json* List(const char* key) { return Find(key, json::value_t::array, "a list"); }
    const json* Object(const char* key) { return Find(key, json::value_t::object, "an object"); }

    const json* Fail(const std::string& what)
    {
        if (m_problem->empty())
            *m_problem = what;
        return nullptr;
    }

private:
    const json& m_object;
    std::string m_where;
    std::string* m_problem;
};

// The block as JSON, or false with the error naming the line and column.
bool ParseBlock(const std::string& block, json* out, std::string* error)
{
    try
    {
        *out = json::parse(block);
    }
    catch (const json::parse_error& e)
    {
        // e.byte counts the bytes read, the offending one included.
        size_t at = e.byte == 0 ? 0 : e.byte - 1;
        if (at > block.size())
            at = block.size();
        size_t line = 1, lineStart = 0;
        for (size_t i = 0; i < at; i++)
        {
            if (block[i] == '\n')
            {
                line++;
                lineStart = i + 1;
            }
        }
        if (error)
            *error = "malformed report: not strict JSON at line " + std::to_string(line) + ", column " +
                     std::to_string(at - lineStart + 1);
        return false;
    }
    if (!out->is_object())
    {
        if (error)
            *error = "malformed report: not an object";
        return false;
    }
    return true;
}

bool CheckFormat(Members& read)
{
    std::string format;
    read.Text("format", &format);
    if (format != "vst3")
        read.Fail("member \"format\" is not \"vst3\"");
    return true;
}

bool Finish(const std::string& problem, std::string* error)
{
    if (problem.empty())
        return true;
    if (error)
        *error = "malformed report: " + problem;
    return false;
}

} // namespace

bool ParseClassId(const std::string& text, std::string* classId)
{
    if (text.size() != 32)
        return false;
    std::string upper = text;
    for (char& c : upper)
    {
        if (c >= 'a' && c <= 'f')
            c = (char)(c - 'a' + 'A');
        else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    *classId = upper;
    return true;
}

std::vector<std::string> SplitSubCategories(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        size_t bar = text.find('|', start);
        std::string part = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!part.empty())
            parts.push_back(part);
        if (bar == std::string::npos)
            return parts;
        start = bar + 1;
    }
}

bool ParseVst3ModuleReport(const std::string& block, Vst3ModuleReport* report, std::string* error)
{
    json doc;
    if (!ParseBlock(block, &doc, error))
        return false;
    std::string problem;
    Members read(doc, "", &problem);
    Vst3ModuleReport out;
    CheckFormat(read);
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    read.Flag("initDll", &out.initDll);
    read.Flag("exitDll", &out.exitDll);
    if (const json* factory = read.Object("factory"))
    {
        Members f(*factory, "factory.", &problem);
        f.Text("vendor", &out.factory.vendor);
        f.Text("url", &out.factory.url);
        f.Text("email", &out.factory.email);
        uint32_t flags = 0;
        f.Bits("flags", &flags);
        out.factory.flags = (int32_t)flags;
    }
    read.Int("classCount", &out.classCount);
    if (const json* classes = read.List("classes"))
    {
        for (size_t i = 0; i < classes->size() && problem.empty(); i++)
        {
            const json& entry = (*classes)[i];
            std::string where = "classes[" + std::to_string(i) + "].";
            if (!entry.is_object())
            {
                problem = "member \"classes[" + std::to_string(i) + "]\" is not an object";
                break;
            }
            Members c(entry, where, &problem);
            Vst3ModuleReport::Class cls;
            Vst3Class& info = cls.info;
            std::string cid, subCategories;
            int cardinality = 0;
            c.Int("index", &cls.index);
            c.Text("cid", &cid);
            c.Text("category", &info.category);
            c.Text("name", &info.name);
            c.Int("cardinality", &cardinality);
            c.Int("infoLevel", &cls.infoLevel);
            c.Bits("classFlags", &info.classFlags);
            c.Text("subCategories", &subCategories);
            c.Text("vendor", &info.vendor);
            c.Text("version", &info.version);
            c.Text("sdkVersion", &info.sdkVersion);
            if (!problem.empty())
                break;
            info.cardinality = cardinality;
            info.subCategories = SplitSubCategories(subCategories);
            // A class whose info could not be read has no ID to give.
            if (!(cls.infoLevel == 0 && cid.empty()) && !ParseClassId(cid, &info.classId))
                problem = "member \"" + where + "cid\" is not 32 hexadecimal digits";
            if (cls.infoLevel < 0 || cls.infoLevel > 3)
                c.Fail("member \"" + where + "infoLevel\" is out of range");
            out.classes.push_back(std::move(cls));
        }
    }
    if (out.classCount < 0)
        read.Fail("member \"classCount\" is out of range");
    if (!Finish(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

bool ParseVst3ClassReport(const std::string& block, Vst3ClassReport* report, std::string* error)
{
    json doc;
    if (!ParseBlock(block, &doc, error))
        return false;
    std::string problem;
    Members read(doc, "", &problem);
    Vst3ClassReport out;
    CheckFormat(read);
    std::string cid;
    read.Text("cid", &cid);
    if (problem.empty() && !ParseClassId(cid, &out.classId))
        problem = "member \"cid\" is not 32 hexadecimal digits";
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    Vst3Buses& b = out.buses;
    read.Int("audioInputBuses", &b.audioInputBuses);
    read.Int("audioOutputBuses", &b.audioOutputBuses);
    read.Int("eventInputBuses", &b.eventInputBuses);
    read.Int("eventOutputBuses", &b.eventOutputBuses);
    read.Int("audioInputs", &b.audioInputs);
    read.Int("audioOutputs", &b.audioOutputs);
    if (const json* buses = read.List("buses"))
    {
        for (size_t i = 0; i < buses->size() && problem.empty(); i++)
        {
            const json& entry = (*buses)[i];
            std::string where = "buses[" + std::to_string(i) + "].";
            if (!entry.is_object())
            {
                problem = "member \"buses[" + std::to_string(i) + "]\" is not an object";
                break;
            }
            Members m(entry, where, &problem);
            Vst3Bus bus;
            m.Text("media", &bus.media);
            m.Text("direction", &bus.direction);
            m.Int("index", &bus.index);
            m.Text("name", &bus.name);
            m.Int("channels", &bus.channels);
            m.Int("busType", &bus.busType);
            m.Bits("flags", &bus.flags);
            if (problem.empty() && bus.media != "audio" && bus.media != "event")
                problem = "member \"" + where + "media\" is not \"audio\" or \"event\"";
            if (problem.empty() && bus.direction != "in" && bus.direction != "out")
                problem = "member \"" + where + "direction\" is not \"in\" or \"out\"";
            out.busList.push_back(std::move(bus));
        }
    }
    for (int count : {b.audioInputBuses, b.audioOutputBuses, b.eventInputBuses, b.eventOutputBuses,
                      b.audioInputs, b.audioOutputs})
    {
        if (count < 0)
            read.Fail("a bus count or channel count is below 0");
    }
    if (!Finish(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

bool ParseVst3FreeReport(const std::string& block, Vst3FreeReport* report, std::string* error)
{
    json doc;
    if (!ParseBlock(block, &doc, error))
        return false;
    std::string problem;
    Members read(doc, "", &problem);
    Vst3FreeReport out;
    CheckFormat(read);
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    if (!Finish(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

} // namespace orvanta
