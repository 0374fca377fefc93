#include "client/json_block.h"

namespace orvanta {

using json = nlohmann::json;

const json* BlockMembers::Find(const char* key, json::value_t type, const char* wanted)
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

void BlockMembers::Text(const char* key, std::string* out)
{
    if (const json* v = Find(key, json::value_t::string, "a text"))
        *out = v->get<std::string>();
}

void BlockMembers::Flag(const char* key, bool* out)
{
    if (const json* v = Find(key, json::value_t::boolean, "true or false"))
        *out = v->get<bool>();
}

bool BlockMembers::Whole(const char* key, long long low, long long high, long long* out)
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

void BlockMembers::Int(const char* key, int* out)
{
    long long value = 0;
    if (Whole(key, INT32_MIN, INT32_MAX, &value))
        *out = (int)value;
}

void BlockMembers::Bits(const char* key, uint32_t* out)
{
    long long value = 0;
    if (Whole(key, INT32_MIN, UINT32_MAX, &value))
        *out = (uint32_t)value;
}

void BlockMembers::Texts(const char* key, std::vector<std::string>* out)
{
    const json* list = List(key);
    if (!list)
        return;
    std::vector<std::string> texts;
    for (const json& item : *list)
    {
        if (!item.is_string())
        {
            Fail("member \"" + m_where + key + "\" holds an entry that is not a text");
            return;
        }
        texts.push_back(item.get<std::string>());
    }
    *out = std::move(texts);
}

void BlockMembers::Format(const char* name)
{
    std::string format;
    Text("format", &format);
    if (format != name)
        Fail(std::string("member \"format\" is not \"") + name + "\"");
}

const json* BlockMembers::Fail(const std::string& what)
{
    if (m_problem->empty())
        *m_problem = what;
    return nullptr;
}

bool ParseJsonBlock(const std::string& block, json* out, std::string* error)
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

bool FinishBlock(const std::string& problem, std::string* error)
{
    if (problem.empty())
        return true;
    if (error)
        *error = "malformed report: " + problem;
    return false;
}

bool ParseFreeReport(const std::string& block, const char* format, FreeReport* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    BlockMembers read(doc, "", &problem);
    FreeReport out;
    read.Format(format);
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

} // namespace orvanta
