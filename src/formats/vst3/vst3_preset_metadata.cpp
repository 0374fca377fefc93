// The metadata XML of a .vstpreset, read as far as a host needs it: the
// <Attr> elements of <MetaInfo>. Whatever else is there is passed over, but
// the document must be well-formed (tags closed in order, attribute values
// quoted, entities known): half a document is not trusted.
#include "formats/vst3/vst3_preset_metadata.h"
#include "orvanta/text.h"
#include <cstdint>
#include <cstring>

namespace orvanta {
namespace {

// A Unicode code point as UTF-8; false for one XML does not allow.
bool AppendCodePoint(uint32_t c, std::string* out)
{
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    if (c < 0x80)
        *out += (char)c;
    else if (c < 0x800)
        *out += {(char)(0xC0 | c >> 6), (char)(0x80 | (c & 0x3F))};
    else if (c < 0x10000)
        *out += {(char)(0xE0 | c >> 12), (char)(0x80 | (c >> 6 & 0x3F)), (char)(0x80 | (c & 0x3F))};
    else
        *out += {(char)(0xF0 | c >> 18), (char)(0x80 | (c >> 12 & 0x3F)), (char)(0x80 | (c >> 6 & 0x3F)),
                 (char)(0x80 | (c & 0x3F))};
    return true;
}

class MetaXml
{
public:
    explicit MetaXml(const std::string& xml) : m_xml(xml) {}

    // False with the fault ("unknown entity '&nbsp;' at byte 57").
    bool Read(std::vector<std::pair<std::string, std::string>>* attributes, std::string* fault)
    {
        if (m_xml.compare(0, 3, "\xEF\xBB\xBF") == 0)
            m_at = 3;
        std::vector<std::string> open;
        bool root = false;
        while (Fail().empty())
        {
            m_at = m_xml.find('<', m_at);
            if (m_at == std::string::npos)
                break;
            if (Starts("<?"))
                SkipPast("?>", "a declaration");
            else if (Starts("<!--"))
                SkipPast("-->", "a comment");
            else if (Starts("<![CDATA["))
                SkipPast("]]>", "a CDATA section");
            else if (Starts("<!"))
                SkipDeclaration();
            else if (Starts("</"))
            {
                size_t start = m_at;
                m_at += 2;
                std::string name = Name();
                SkipBlanks();
                if (!Take('>'))
                    Fault("an end tag without its '>' at byte " + std::to_string(start));
                else if (open.empty() || open.back() != name)
                    Fault("</" + name + "> at byte " + std::to_string(start) +
                          (open.empty() ? " closes nothing" : " closes <" + open.back() + ">"));
                else
                    open.pop_back();
            }
            else
            {
                size_t start = m_at++;
                std::string name = Name();
                if (name.empty())
                {
                    Fault("a '<' that starts no element at byte " + std::to_string(start));
                    break;
                }
                if (open.empty() && root)
                {
                    Fault("a second root element <" + name + "> at byte " + std::to_string(start));
                    break;
                }
                std::vector<std::pair<std::string, std::string>> values;
                bool closed = false;
                if (!Attributes(&values, &closed))
                    break;
                if (name == "Attr" && !open.empty() && open.back() == "MetaInfo")
                    Keep(values, attributes);
                root = true;
                if (!closed)
                    open.push_back(name);
            }
        }
        if (Fail().empty() && !open.empty())
            Fault("<" + open.back() + "> is never closed");
        if (Fail().empty() && !root)
            Fault("it holds no element");
        *fault = Fail();
        if (!fault->empty())
            attributes->clear();
        return fault->empty();
    }

private:
    const std::string& Fail() const { return m_fault; }
    void Fault(const std::string& text)
    {
        if (m_fault.empty())
            m_fault = text;
    }
    bool Starts(const char* text) const { return m_xml.compare(m_at, std::strlen(text), text) == 0; }
    bool Take(char c)
    {
        if (m_at < m_xml.size() && m_xml[m_at] == c)
        {
            m_at++;
            return true;
        }
        return false;
    }
    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    void SkipBlanks()
    {
        while (m_at < m_xml.size() && IsBlank(m_xml[m_at]))
            m_at++;
    }
    void SkipPast(const char* end, const char* what)
    {
        size_t found = m_xml.find(end, m_at + 2);
        if (found == std::string::npos)
            Fault(std::string(what) + " at byte " + std::to_string(m_at) + " that never ends");
        else
            m_at = found + std::strlen(end);
    }
    // <!DOCTYPE ...>, with an internal subset in brackets.
    void SkipDeclaration()
    {
        int depth = 0;
        for (size_t i = m_at + 2; i < m_xml.size(); i++)
        {
            char c = m_xml[i];
            if (c == '[')
                depth++;
            else if (c == ']')
                depth--;
            else if (c == '>' && depth <= 0)
            {
                m_at = i + 1;
                return;
            }
        }
        Fault("a declaration at byte " + std::to_string(m_at) + " that never ends");
    }
    std::string Name()
    {
        size_t start = m_at;
        while (m_at < m_xml.size() && !IsBlank(m_xml[m_at]) && std::strchr("/>=<\"'&", m_xml[m_at]) == nullptr)
            m_at++;
        return m_xml.substr(start, m_at - start);
    }
    // The attributes of a start tag up to its '>' (closed: it was "/>").
    bool Attributes(std::vector<std::pair<std::string, std::string>>* values, bool* closed)
    {
        for (;;)
        {
            SkipBlanks();
            if (Take('>'))
                return true;
            if (Take('/'))
            {
                if (Take('>'))
                {
                    *closed = true;
                    return true;
                }
                Fault("a '/' in a tag at byte " + std::to_string(m_at - 1));
                return false;
            }
            if (m_at >= m_xml.size())
            {
                Fault("a tag that never ends");
                return false;
            }
            size_t start = m_at;
            std::string name = Name();
            if (name.empty())
            {
                Fault("an unexpected '" + std::string(1, m_xml[m_at]) + "' in a tag at byte " +
                      std::to_string(m_at));
                return false;
            }
            SkipBlanks();
            if (!Take('='))
            {
                Fault("attribute '" + name + "' at byte " + std::to_string(start) + " has no value");
                return false;
            }
            SkipBlanks();
            char quote = m_at < m_xml.size() ? m_xml[m_at] : '\0';
            if (quote != '"' && quote != '\'')
            {
                Fault("the value of attribute '" + name + "' at byte " + std::to_string(start) + " is not quoted");
                return false;
            }
            size_t end = m_xml.find(quote, m_at + 1);
            if (end == std::string::npos)
            {
                Fault("the value of attribute '" + name + "' at byte " + std::to_string(start) + " never ends");
                return false;
            }
            std::string value;
            if (!Decode(m_at + 1, end, &value))
                return false;
            values->push_back({name, value});
            m_at = end + 1;
            if (m_at < m_xml.size() && !IsBlank(m_xml[m_at]) && m_xml[m_at] != '/' && m_xml[m_at] != '>')
            {
                Fault("no blank after the value of attribute '" + name + "' at byte " + std::to_string(start));
                return false;
            }
        }
    }
    // An attribute value with its entities decoded, and line breaks and tabs
    // as blanks, as XML reads them.
    bool Decode(size_t from, size_t to, std::string* out)
    {
        static const std::pair<const char*, char> named[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (size_t i = from; i < to; i++)
        {
            char c = m_xml[i];
            if (c == '<')
            {
                Fault("a '<' in an attribute value at byte " + std::to_string(i));
                return false;
            }
            if (c == '\r' && i + 1 < to && m_xml[i + 1] == '\n')
                continue;
            if (c != '&')
            {
                *out += IsBlank(c) ? ' ' : c;
                continue;
            }
            size_t semicolon = m_xml.find(';', i);
            if (semicolon == std::string::npos || semicolon >= to || semicolon - i > 12)
            {
                Fault("a '&' that starts no entity at byte " + std::to_string(i));
                return false;
            }
            std::string entity = m_xml.substr(i + 1, semicolon - i - 1);
            bool known = false;
            if (entity.size() > 1 && entity[0] == '#')
            {
                bool hex = entity[1] == 'x';
                std::string digits = entity.substr(hex ? 2 : 1);
                uint32_t code = 0;
                bool valid = !digits.empty();
                for (char d : digits)
                {
                    int v = d >= '0' && d <= '9' ? d - '0'
                            : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                            : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                          : -1;
                    if (v < 0 || code > 0x10FFFF)
                        valid = false;
                    else
                        code = code * (hex ? 16 : 10) + (uint32_t)v;
                }
                known = valid && AppendCodePoint(code, out);
            }
            for (const auto& n : named)
            {
                if (entity == n.first)
                {
                    *out += n.second;
                    known = true;
                }
            }
            if (!known)
            {
                Fault("unknown entity '&" + entity + ";' at byte " + std::to_string(i));
                return false;
            }
            i = semicolon;
        }
        return true;
    }
    // An <Attr>'s id and value; one without an id says nothing.
    static void Keep(const std::vector<std::pair<std::string, std::string>>& values,
                     std::vector<std::pair<std::string, std::string>>* attributes)
    {
        const std::string* id = nullptr;
        std::string value;
        for (const auto& v : values)
        {
            if (v.first == "id" && !id)
                id = &v.second;
            else if (v.first == "value")
                value = v.second;
        }
        // Bytes that are not UTF-8 become U+FFFD, as every text the library
        // hands over is UTF-8.
        if (id)
            attributes->push_back({ToUtf8(ToWide(*id)), ToUtf8(ToWide(value))});
    }

    const std::string& m_xml;
    size_t m_at = 0;
    std::string m_fault;
};

} // namespace

bool ReadPresetMetadata(const std::string& xml, std::vector<std::pair<std::string, std::string>>* attributes,
                        std::string* fault)
{
    return MetaXml(xml).Read(attributes, fault);
}

} // namespace orvanta
