// The report block is JSON with a comma behind every member, the last ones
// included, so a standard JSON parser refuses it. This reader takes exactly
// that form: one object of string, integer and true/false members and the
// one nested "shells" object, each member optionally followed by a comma.
#include "formats/vst2/vst2_report_parser.h"
#include "orvanta/text.h"
#include <cstdlib>
#include <map>

namespace orvanta {
namespace {

// Appends the UTF-8 bytes of one code point (up to U+10FFFF).
void AppendUtf8(std::string* out, uint32_t c)
{
    if (c < 0x80)
        out->push_back((char)c);
    else if (c < 0x800)
    {
        out->push_back((char)(0xC0 | (c >> 6)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
    else if (c < 0x10000)
    {
        out->push_back((char)(0xE0 | (c >> 12)));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
    else
    {
        out->push_back((char)(0xF0 | (c >> 18)));
        out->push_back((char)(0x80 | ((c >> 12) & 0x3F)));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
}


struct Value
{
    enum Kind { text, number, boolean, object } kind = text;
    std::string string;        // text
    long long integer = 0;     // number
    bool flag = false;         // boolean
    std::vector<std::pair<std::string, std::string>> members; // object of texts
};

class Reader
{
public:
    explicit Reader(const std::string& block) : m_text(block) {}

    bool Fail(const std::string& what) { return FailAt(m_at, what); }
    bool FailAt(size_t at, const std::string& what)
    {
        if (m_error.empty())
        {
            size_t save = m_at;
            m_at = at;
            m_error = what + " at line " + std::to_string(Line()) + ", column " +
                      std::to_string(Column());
            m_at = save;
        }
        return false;
    }
    // Where the key of the member being read begins.
    size_t KeyStart() const { return m_keyStart; }
    const std::string& Error() const { return m_error; }

    void SkipBlanks()
    {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\n' || m_text[m_at] == '\r' ||
                m_text[m_at] == '\t'))
            m_at++;
    }
    bool AtEnd() const { return m_at >= m_text.size(); }
    bool Peek(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }
    bool Expect(char c, const char* what)
    {
        SkipBlanks();
        if (!Peek(c))
            return Fail(std::string("expected ") + what);
        m_at++;
        return true;
    }

    bool ReadString(std::string* out)
    {
        SkipBlanks();
        if (!Peek('"'))
            return Fail("expected a quoted text");
        m_at++;
        out->clear();
        for (;;)
        {
            if (AtEnd())
                return Fail("unterminated text");
            unsigned char c = (unsigned char)m_text[m_at];
            if (c == '"')
            {
                m_at++;
                return true;
            }
            if (c < 0x20)
                return Fail("control character in a text");
            if (c != '\\')
            {
                out->push_back((char)c);
                m_at++;
                continue;
            }
            m_at++;
            if (AtEnd())
                return Fail("unterminated escape");
            char e = m_text[m_at++];
            switch (e)
            {
            case '"': out->push_back('"'); break;
            case '\\': out->push_back('\\'); break;
            case '/': out->push_back('/'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'n': out->push_back('\n'); break;
            case 'r': out->push_back('\r'); break;
            case 't': out->push_back('\t'); break;
            case 'u':
            {
                uint32_t unit = 0;
                if (!ReadHex4(&unit))
                    return false;
                uint32_t code = unit;
                if (unit >= 0xD800 && unit <= 0xDBFF)
                {
                    // A high surrogate takes the low one of the next escape;
                    // a lone surrogate (possible in a file's version text)
                    // becomes U+FFFD, as UTF-8 cannot carry it.
                    size_t save = m_at;
                    uint32_t low = 0;
                    if (m_at + 1 < m_text.size() && m_text[m_at] == '\\' &&
                        m_text[m_at + 1] == 'u')
                    {
                        m_at += 2;
                        if (!ReadHex4(&low))
                            return false;
                    }
                    if (low >= 0xDC00 && low <= 0xDFFF)
                        code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    else
                    {
                        m_at = save;
                        code = 0xFFFD;
                    }
                }
                else if (unit >= 0xDC00 && unit <= 0xDFFF)
                    code = 0xFFFD;
                AppendUtf8(out, code);
                break;
            }
            default:
                m_at -= 2;
                return Fail(std::string("unknown escape \\") + e);
            }
        }
    }

    bool ReadHex4(uint32_t* unit)
    {
        *unit = 0;
        for (int i = 0; i < 4; i++)
        {
            int d = m_at < m_text.size() ? HexDigit(m_text[m_at]) : -1;
            if (d < 0)
                return Fail("\\u needs four hexadecimal digits");
            *unit = *unit * 16 + (uint32_t)d;
            m_at++;
        }
        return true;
    }

    static int HexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool ReadValue(Value* value, bool allowObject)
    {
        SkipBlanks();
        if (Peek('"'))
        {
            value->kind = Value::text;
            return ReadString(&value->string);
        }
        if (Peek('{'))
        {
            if (!allowObject)
                return Fail("unexpected nested object");
            value->kind = Value::object;
            m_at++;
            return ReadMembers([&](const std::string& key) {
                Value inner;
                if (!ReadValue(&inner, false))
                    return false;
                if (inner.kind != Value::text)
                    return Fail("expected a quoted text");
                value->members.emplace_back(key, inner.string);
                return true;
            });
        }
        if (m_text.compare(m_at, 4, "true") == 0 || m_text.compare(m_at, 5, "false") == 0)
        {
            value->kind = Value::boolean;
            value->flag = m_text[m_at] == 't';
            m_at += value->flag ? 4 : 5;
            return true;
        }
        size_t start = m_at;
        if (Peek('-'))
            m_at++;
        size_t digits = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
            m_at++;
        if (m_at == digits || m_at - digits > 11)
        {
            m_at = start;
            return Fail("expected a value");
        }
        value->kind = Value::number;
        value->integer = std::strtoll(m_text.c_str() + start, nullptr, 10);
        if (value->integer < INT32_MIN || value->integer > INT32_MAX)
        {
            m_at = start;
            return Fail("number out of range");
        }
        return true;
    }

    // Members up to the closing brace; a comma may follow every member.
    template <class OnMember> bool ReadMembers(OnMember onMember)
    {
        for (;;)
        {
            SkipBlanks();
            if (AtEnd())
                return Fail("missing closing brace");
            if (Peek('}'))
            {
                m_at++;
                return true;
            }
            std::string key;
            m_keyStart = m_at;
            if (!ReadString(&key) || !Expect(':', "':'") || !onMember(key))
                return false;
            SkipBlanks();
            if (Peek(','))
                m_at++;
            else if (!Peek('}'))
                return Fail("expected ',' or '}'");
        }
    }

    size_t Line() const
    {
        size_t line = 1;
        for (size_t i = 0; i < m_at && i < m_text.size(); i++)
            line += m_text[i] == '\n';
        return line;
    }
    size_t Column() const
    {
        size_t lineStart = m_text.rfind('\n', m_at == 0 ? 0 : m_at - 1);
        if (m_at == 0 || lineStart == std::string::npos)
            return m_at + 1;
        return m_at - lineStart;
    }

private:
    const std::string& m_text;
    size_t m_at = 0;
    size_t m_keyStart = 0;
    std::string m_error;
};

} // namespace

bool ParseVst2Report(const std::string& block, Vst2Report* report, std::string* error)
{
    Reader reader(block);
    std::map<std::string, Value> members;
    std::string duplicate;
    bool read = reader.Expect('{', "'{' to open the report") &&
                reader.ReadMembers([&](const std::string& key) {
                    Value value;
                    if (!reader.ReadValue(&value, key == "shells"))
                        return false;
                    if (!members.emplace(key, value).second)
                        return reader.FailAt(reader.KeyStart(), "member \"" + key + "\" twice");
                    return true;
                });
    if (read)
    {
        reader.SkipBlanks();
        if (!reader.AtEnd())
            read = reader.Fail("text after the closing brace");
    }
    if (!read)
    {
        if (error)
            *error = "malformed report: " + reader.Error();
        return false;
    }

    Vst2Report out;
    std::string problem;
    auto need = [&](const char* key, Value::Kind kind) -> const Value* {
        auto it = members.find(key);
        if (it == members.end())
        {
            if (problem.empty())
                problem = std::string("member \"") + key + "\" missing";
            return nullptr;
        }
        if (it->second.kind != kind)
        {
            if (problem.empty())
                problem = std::string("member \"") + key + "\" has the wrong type";
            return nullptr;
        }
        return &it->second;
    };
    if (const Value* v = need("id", Value::text))
    {
        if (!ParseHexId(v->string, &out.id) && problem.empty())
            problem = "member \"id\" is not 8 hexadecimal digits";
    }
    struct TextMember { const char* key; std::string* to; } texts[] = {
        {"name", &out.name}, {"vendor", &out.vendor}, {"product", &out.product},
        {"version", &out.version}, {"error", &out.error}, {"platform", &out.platform}};
    for (const TextMember& t : texts)
        if (const Value* v = need(t.key, Value::text))
            *t.to = v->string;
    struct NumberMember { const char* key; int* to; } numbers[] = {
        {"numInputs", &out.numInputs}, {"numOutputs", &out.numOutputs},
        {"category", &out.category}};
    for (const NumberMember& n : numbers)
        if (const Value* v = need(n.key, Value::number))
            *n.to = (int)v->integer;
    struct FlagMember { const char* key; bool* to; } flags[] = {
        {"wantsMidi", &out.wantsMidi}, {"sendsMidi", &out.sendsMidi},
        {"audio64", &out.audio64}, {"synthEdit", &out.synthEdit}};
    for (const FlagMember& f : flags)
        if (const Value* v = need(f.key, Value::boolean))
            *f.to = v->flag;
    // Only the "vst2|" request form reports it.
    auto editor = members.find("hasEditor");
    if (editor != members.end())
    {
        if (editor->second.kind != Value::boolean && problem.empty())
            problem = "member \"hasEditor\" has the wrong type";
        out.hasEditor = editor->second.flag;
    }
    auto shells = members.find("shells");
    if (shells != members.end())
    {
        if (shells->second.kind != Value::object && problem.empty())
            problem = "member \"shells\" is not an object";
        for (const auto& m : shells->second.members)
        {
            ShellEntry entry;
            if (!ParseHexId(m.first, &entry.id))
            {
                if (problem.empty())
                    problem = "sub-plugin ID \"" + m.first + "\" is not 8 hexadecimal digits";
                break;
            }
            entry.name = m.second;
            out.shells.push_back(entry);
        }
    }
    if (!problem.empty())
    {
        if (error)
            *error = "malformed report: " + problem;
        return false;
    }
    *report = std::move(out);
    return true;
}

} // namespace orvanta
