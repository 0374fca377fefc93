// VST 2 as a format unit: a module is a DLL whose entry point gives one
// plugin, or a shell listing sub-plugins that are each requested on their
// own; installers put them in folders a user or the registry names.
#pragma once
#include "formats/format_unit.h"

namespace orvanta {

class Vst2Unit final : public FormatUnit
{
public:
    Vst2Unit();
    std::vector<std::wstring> InstallFolders() const override;       // vst2_unit.cpp
    void Scan(ScanContext& context) const override;                   // vst2_scan.cpp
    Json ModuleToJson(const ModuleResult& module) const override;     // vst2_entry.cpp
    bool ModuleFromJson(MemberReader& read, ModuleResult* module) const override;
    Json PluginToJson(const PluginEntry& plugin) const override;
    bool PluginFromJson(MemberReader& read, PluginEntry* plugin) const override;
    void AraToJson(const AraSupport& ara, Json& member) const override;
    std::optional<std::string> CanonicalId(const std::string& text) const override;
    const char* IdForm() const override;
};

} // namespace orvanta
