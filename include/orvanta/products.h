// One plugin known across its formats. Many products ship the same plugin as
// VST 2, VST3 and CLAP; a host wants to show it once and to know which entry
// replaces which. Entries are linked where a plugin declares the link (a
// VST3 bundle's moduleinfo.json "Compatibility" list, a CLAP module's
// factories made for that: PluginEntry::replaces) and, where nothing is
// declared, grouped by the same vendor and name as a guess. The database
// says which is which. A plugin's builds for x64 and x86 (same format and
// ID) are one plugin, each member saying its machine.
#pragma once
#include "orvanta/scan.h"
#include <string>
#include <vector>

namespace orvanta {

struct ModuleRecord;

// How a plugin came to be in its product.
constexpr const char* LinkDeclared = "declared"; // it, or another member, declares the link
constexpr const char* LinkGuessed = "guessed";   // only the same vendor and name join it
constexpr const char* LinkAlone = "";            // the product's only plugin

// One plugin of a product: a plugin entry of a module entry.
struct ProductMember
{
    PluginFormat format = PluginFormat::vst2;
    std::wstring path; // the module entry's path
    std::string id;    // the plugin entry's id, in its format's form
    std::string name, vendor;
    std::string machine; // the module entry's machine: "x64", "x86", ...; "" when unknown
    std::string link;  // LinkDeclared, LinkGuessed or LinkAlone
};

struct Product
{
    std::string name, vendor; // of its newest format's first member (CLAP, then VST3, then VST 2)
    std::vector<PluginFormat> formats; // each once, in the order clap, vst3, vst2
    std::vector<ProductMember> members; // by format in that order, then path, then id
};

// Groups every plugin entry that names a plugin (status ok; a VST 2 shell's
// own entry and VST3 classes other than audio module classes are not
// plugins) into products:
// - a declared link joins the plugin that declares it with every entry of
//   that format and ID, and both are "declared";
// - plugins of one format and ID built for different machines (x64 and x86)
//   are one plugin: joined, and counted once for the link (alone, they are
//   the product's only plugin);
// - plugins not joined by a declared link to another format's plugin are
//   joined with the plugins of the same vendor and name (compared without
//   letter case and surrounding blanks; never on an empty vendor or name),
//   as "guessed".
// Products are sorted by vendor, then name (without letter case), then the
// first member's path.
std::vector<Product> LinkProducts(const std::vector<ModuleRecord>& modules);

// One line for people, as orvanta-scan --list prints it:
// "Zandrel Gain (Zandrel Software): clap, vst3, vst2 [declared]"; the
// bracket is "declared", "guessed" or "declared, guessed" as its members
// are, and left out for a product of one plugin. Without a vendor the
// parentheses are left out; without a name the first member's ID stands
// in its place.
std::string ProductLine(const Product& product);

} // namespace orvanta
