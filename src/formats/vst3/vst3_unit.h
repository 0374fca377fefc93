// VST3 as a format unit: a module is a bundle folder (or an older single
// file) whose factory lists classes; each audio module class is then
// requested on its own, and the module freed in a request of its own.
#pragma once
#include "formats/format_unit.h"

namespace orvanta {

class Vst3Unit final : public FormatUnit
{
public:
    Vst3Unit();
    std::wstring BundleBinary(const std::wstring& bundle) const override; // vst3_unit.cpp
    std::vector<std::wstring> InstallFolders() const override;
    void Scan(ScanContext& context) const override;                       // vst3_scan.cpp
    bool ScanPresets(ScanContext& context, const ModuleResult& module,
                     ModulePresets* presets) const override;              // vst3_presets.cpp
    Json ModuleToJson(const ModuleResult& module) const override;         // vst3_entry.cpp
    bool ModuleFromJson(MemberReader& read, ModuleResult* module) const override;
    Json PluginToJson(const PluginEntry& plugin) const override;
    bool PluginFromJson(MemberReader& read, PluginEntry* plugin) const override;
    void AraToJson(const AraSupport& ara, Json& member) const override;
    std::optional<std::string> CanonicalId(const std::string& text) const override;
    const char* IdForm() const override;
    void CarryOver(ModuleResult* module) const override;
};

} // namespace orvanta
