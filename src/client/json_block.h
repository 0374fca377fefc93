// Reading the server's strict-JSON report blocks (VST3 and CLAP): the
// block parsed by a standard parser, then each member checked for presence,
// type and range, the first problem kept.
#pragma once
#include <nlohmann/json.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// Reads the members of one object, remembering the first problem. Names in
// problems are prefixed with where ("plugins[2].").
class BlockMembers
{
public:
    using json = nlohmann::json;
    BlockMembers(const json& object, std::string where, std::string* problem)
        : m_object(object), m_where(std::move(where)), m_problem(problem)
    {
    }

    const json* Find(const char* key, json::value_t type, const char* wanted);
    // The member is there: members added to a block later are read only
    // when present, so that answers of older servers still read.
    bool Has(const char* key) const { return m_object.contains(key); }
    void Text(const char* key, std::string* out);
    void Flag(const char* key, bool* out);
    // A whole number between low and high.
    bool Whole(const char* key, long long low, long long high, long long* out);
    void Int(const char* key, int* out);
    // 32 bits of flags, written signed or unsigned.
    void Bits(const char* key, uint32_t* out);
    const json* List(const char* key) { return Find(key, json::value_t::array, "a list"); }
    // A list of texts.
    void Texts(const char* key, std::vector<std::string>* out);
    const json* Object(const char* key) { return Find(key, json::value_t::object, "an object"); }
    // The "format" member, which must be the given name.
    void Format(const char* name);
    const json* Fail(const std::string& what);

private:
    const json& m_object;
    std::string m_where;
    std::string* m_problem;
};

// Each entry of the list member key, which must hold objects, read by
// each(members, "key[i].") with its name for problems; stops at the first
// problem.
template <typename Each>
void EachBlockObject(BlockMembers& read, const char* key, std::string* problem, Each each)
{
    const nlohmann::json* list = read.List(key);
    for (size_t i = 0; list && i < list->size() && problem->empty(); i++)
    {
        std::string name = std::string(key) + "[" + std::to_string(i) + "]";
        if (!(*list)[i].is_object())
        {
            read.Fail("member \"" + name + "\" is not an object");
            return;
        }
        BlockMembers members((*list)[i], name + ".", problem);
        each(members, name + ".");
    }
}

// The block as a JSON object, or false with "malformed report: ..." naming
// the line and column where the syntax breaks.
bool ParseJsonBlock(const std::string& block, nlohmann::json* out, std::string* error);
// True when no problem was found; else false with "malformed report: PROBLEM".
bool FinishBlock(const std::string& problem, std::string* error);

// The fixed answer to a free request ("vst3|" or "clap|" alone), of either
// format: format, error and phase.
struct FreeReport
{
    std::string error, phase;
};
bool ParseFreeReport(const std::string& block, const char* format, FreeReport* report, std::string* error);

} // namespace orvanta
