// One plugin format as the library knows it: which files or folders are its
// modules and where installers put them, how one of its modules is scanned,
// and how its members stand in the database file. Each format implements
// FormatUnit once, in its own folder (formats/vst2, formats/vst3,
// formats/clap). The folder walk, the module scanner and the database file
// keep what every format shares and ask UnitOf(format) for the rest, so a
// format is added by writing one more unit.
#pragma once
#include "database/database_file.h"
#include "orvanta/scan.h"
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

class ScanContext; // formats/scan_context.h

class FormatUnit
{
public:
    const PluginFormat format;
    const char* const name; // "vst2": the database's and the command line's name
    // A file whose name ends so, in any letter case, is a module of this format.
    const wchar_t* const extension;
    // A folder so named is one module (a bundle), never searched inside.
    // Otherwise such a folder is searched like any other.
    const bool bundles;
    // The first database format that knows this format's modules.
    const int sinceDatabaseFormat;

    // Finding modules.
    // The file of a bundle whose size is the bundle's (its binary); "" for
    // a format without bundles.
    virtual std::wstring BundleBinary(const std::wstring& bundle) const;
    // The folders installers put its modules in, in search order, whether
    // they exist or not; "" for one whose environment variable is unset.
    virtual std::vector<std::wstring> InstallFolders() const = 0;

    // Scanning: one module (context.Result(), its path and format set) on
    // the context's server.
    virtual void Scan(ScanContext& context) const = 0;
    // Presets: the module's, its entry as scanned, on the context's server
    // when reading them runs plugin code (context.Result() is scratch: path
    // and format set). False for a format without presets.
    virtual bool ScanPresets(ScanContext& context, const ModuleResult& module, ModulePresets* presets) const;

    // The database file.
    // The module entry's members of this format alone, in their order.
    // Those every format may have ("binary", "architectures", "phase") are
    // placed where the entry keeps them; the others follow the shared ones.
    virtual Json ModuleToJson(const ModuleResult& module) const = 0;
    // The reverse, for all of them, in the order they are checked.
    virtual bool ModuleFromJson(MemberReader& read, ModuleResult* module) const = 0;
    // One plugin entry, without the members every format shares
    // ("replaces", "ara"), and the reverse.
    virtual Json PluginToJson(const PluginEntry& plugin) const = 0;
    virtual bool PluginFromJson(MemberReader& read, PluginEntry* plugin) const = 0;
    // The members of an "ara" object after "required": what says so in
    // this format.
    virtual void AraToJson(const AraSupport& ara, Json& member) const = 0;
    // A plugin ID of this format, as a link to it is read, in the form its
    // entries use; nullopt when the text is none ("is not " + IdForm()).
    virtual std::optional<std::string> CanonicalId(const std::string& text) const = 0;
    virtual const char* IdForm() const = 0;
    // What reading a file written before the current format supplies from
    // the entry itself.
    virtual void CarryOver(ModuleResult* module) const;

protected:
    FormatUnit(PluginFormat format, const char* name, const wchar_t* extension, bool bundles,
               int sinceDatabaseFormat);
    ~FormatUnit() = default;
};

const FormatUnit& UnitOf(PluginFormat format);
// Every format, in the order names are listed: VST 2, VST3, CLAP.
const std::vector<const FormatUnit*>& AllFormatUnits();
// The unit whose extension ends a file or folder name, or nullptr.
const FormatUnit* UnitNaming(const std::wstring& name);

} // namespace orvanta
