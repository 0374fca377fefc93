// CLAP as a format unit: a module is one DLL whose factory lists plugin
// descriptors; each plugin is then requested on its own, and the module
// freed in a request of its own.
#pragma once
#include "formats/format_unit.h"

namespace orvanta {

class ClapUnit final : public FormatUnit
{
public:
    ClapUnit();
    std::vector<std::wstring> InstallFolders() const override;       // clap_unit.cpp
    void Scan(ScanContext& context) const override;                   // clap_scan.cpp
    bool ScanPresets(ScanContext& context, const ModuleResult& module,
                     ModulePresets* presets) const override;          // clap_presets.cpp
    Json ModuleToJson(const ModuleResult& module) const override;     // clap_entry.cpp
    bool ModuleFromJson(MemberReader& read, ModuleResult* module) const override;
    Json PluginToJson(const PluginEntry& plugin) const override;
    bool PluginFromJson(MemberReader& read, PluginEntry* plugin) const override;
    void AraToJson(const AraSupport& ara, Json& member) const override;
    std::optional<std::string> CanonicalId(const std::string& text) const override;
    const char* IdForm() const override;
    void CarryOver(ModuleResult* module) const override;
};

} // namespace orvanta
