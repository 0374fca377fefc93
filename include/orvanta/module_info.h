// A VST3 bundle's moduleinfo.json: what the bundle says of its factory and
// classes without any of its code loaded. The file is trusted only as far
// as it is true: CompareModuleInfo lists where it disagrees with what the
// factory itself reported, and a file that cannot be used is a finding,
// never a failure of the scan.
//
// The file is JSON5 as far as its generators use it: comments ("//" to the
// end of the line, "/* ... */") and trailing commas before "}" or "]" are
// allowed outside strings; everything else is strict JSON.
//
// Nothing here throws; texts are UTF-8, paths UTF-16, as in orvanta/scan.h.
#pragma once
#include "orvanta/scan.h"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// A larger file is not read (a finding says so): real ones are a few KB.
constexpr uint64_t ModuleInfoSizeLimit = 4u * 1024 * 1024;

// One entry of the file's "Compatibility" list: the class New is the same
// plugin as, and replaces, each Old class (an earlier build's, or a VST 2
// plugin's as a class ID: "565354", the VST 2 ID in 8 digits, 18 more).
struct Vst3Compatibility
{
    std::string newId;               // 32 upper-case hex digits
    std::vector<std::string> oldIds; // likewise, in file order
};

struct ModuleInfo
{
    std::wstring path;  // the file read; "" when the bundle has none
    bool read = false;  // parsed: factory and classes hold what it says
    Vst3Factory factory;
    // Every class with a valid "CID", in file order, sources {"moduleinfo.json"}.
    std::vector<Vst3Class> classes;
    // Every well-formed "Compatibility" entry, in file order.
    std::vector<Vst3Compatibility> compatibility;
    // What is wrong with the file, one sentence each; empty for a clean file.
    std::vector<std::string> findings;
};

// Reads the bundle's moduleinfo.json: Contents\Resources\moduleinfo.json,
// else the older Contents\moduleinfo.json. A bundle without one gives an
// empty path, read false and no finding; a file that cannot be read, is
// larger than the limit or is not JSON5 gives read false and the finding
// (with the parser's line and column).
ModuleInfo ReadModuleInfo(const std::wstring& bundle);

// Where moduleinfo.json and the factory disagree, one sentence each, in the
// file's class order and then the factory's:
//   class ID ('Name'): in moduleinfo.json, not listed by the factory
//   class ID ('Name'): listed by the factory, not in moduleinfo.json
//   class ID: name 'A' in moduleinfo.json, 'B' from the factory
// (likewise "vendor", "version" and "category"). Classes are matched by
// their 32-digit ID, in either letter case; a factory class without an ID
// (its class info could not be read) is passed over.
std::vector<std::string> CompareModuleInfo(const std::vector<Vst3Class>& fromFile,
                                           const std::vector<Vst3Class>& fromFactory);

// Puts the links the "Compatibility" list declares on the entry of each
// class named New: each Old ID as a vst3 link, one made from a VST 2 plugin
// also as a vst2 link to that plugin's ID; declaredBy "moduleinfo.json".
void AddDeclaredLinks(const ModuleInfo& info, std::vector<PluginEntry>* classes);

// The module as orvanta-scan --fast lists it: from moduleinfo.json alone,
// without loading any code. Format vst3, status ok, no attempts,
// moduleInfoOnly, the factory and one ok plugin entry per class, with its
// declared links. Nothing (the module is to be scanned) unless the
// bundle's binary exists and the file reads cleanly: found, parsed, without
// findings, with a class. With x86Too the binary may be the x86-win one of a
// bundle for 32-bit hosts (Vst3BundleBinary).
std::optional<ModuleResult> ModuleInfoResult(const std::wstring& bundle, bool x86Too = false);

} // namespace orvanta
