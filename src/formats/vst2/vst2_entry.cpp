// A VST 2 plugin's entry in the database file: its ID, the outcome of its
// request, and its report's members when a report came back. A VST 2
// module has no members of its own beyond those every module has.
#include "database/database_file.h"
#include "formats/vst2/vst2_unit.h"
#include "orvanta/text.h"

namespace orvanta {

Json Vst2Unit::ModuleToJson(const ModuleResult&) const
{
    return Json::object();
}

bool Vst2Unit::ModuleFromJson(MemberReader&, ModuleResult*) const
{
    return true;
}

Json Vst2Unit::PluginToJson(const PluginEntry& plugin) const
{
    Json entry = Json::object();
    bool hasReport = plugin.status == Status::ok || plugin.status == Status::failed;
    // Without a report the requested sub-plugin ID is the only one known.
    uint32_t id = !hasReport && plugin.shellId ? *plugin.shellId : plugin.report.id;
    entry["id"] = HexId(id);
    entry["shellId"] = plugin.shellId ? Json(HexId(*plugin.shellId)) : Json(nullptr);
    entry["status"] = StatusName(plugin.status);
    // A sub-plugin's crash is retried like a module's; one attempt goes unsaid.
    if (plugin.attempts != 1)
        entry["attempts"] = plugin.attempts;
    PutText(entry, "error", plugin.error);
    const Vst2Report& r = plugin.report;
    if (hasReport)
    {
        entry["name"] = r.name;
        entry["vendor"] = r.vendor;
        entry["product"] = r.product;
        entry["version"] = r.version;
        entry["numInputs"] = r.numInputs;
        entry["numOutputs"] = r.numOutputs;
        entry["wantsMidi"] = r.wantsMidi;
        entry["sendsMidi"] = r.sendsMidi;
        entry["platform"] = r.platform;
        entry["audio64"] = r.audio64;
        entry["category"] = r.category;
        entry["synthEdit"] = r.synthEdit;
        if (r.hasEditor)
            entry["editor"] = *r.hasEditor;
    }
    else
    {
        PutText(entry, "name", r.name);
    }
    return entry;
}

bool Vst2Unit::PluginFromJson(MemberReader& read, PluginEntry* plugin) const
{
    const Json& entry = read.object;
    auto id = entry.find("id");
    if (id == entry.end() || !HexIdMember(*id, &plugin->report.id))
        return read.Fail("id", "is not eight hexadecimal digits");
    auto shell = entry.find("shellId");
    if (shell != entry.end() && !shell->is_null())
    {
        uint32_t shellId = 0;
        if (!HexIdMember(*shell, &shellId))
            return read.Fail("shellId", "is neither null nor eight hexadecimal digits");
        plugin->shellId = shellId;
    }
    Vst2Report& r = plugin->report;
    return read.StatusOf(&plugin->status) && read.Number("attempts", &plugin->attempts) &&
           read.Text("error", &plugin->error) &&
           read.Text("name", &r.name) && read.Text("vendor", &r.vendor) &&
           read.Text("product", &r.product) && read.Text("version", &r.version) &&
           read.Number("numInputs", &r.numInputs) && read.Number("numOutputs", &r.numOutputs) &&
           read.Flag("wantsMidi", &r.wantsMidi) && read.Flag("sendsMidi", &r.sendsMidi) &&
           read.Text("platform", &r.platform) && read.Flag("audio64", &r.audio64) &&
           read.Number("category", &r.category) && read.Flag("synthEdit", &r.synthEdit) &&
           read.OptionalFlag("editor", &r.hasEditor);
}

// VST 2 itself has no ARA; an "ara" member a file gave a VST 2 entry is
// written back in the form that names no class.
void Vst2Unit::AraToJson(const AraSupport& ara, Json& member) const
{
    member["factory"] = ara.factory;
    member["feature"] = ara.feature;
}

std::optional<std::string> Vst2Unit::CanonicalId(const std::string& text) const
{
    uint32_t id = 0;
    if (!ParseHexId(text, &id))
        return std::nullopt;
    return HexId(id);
}

const char* Vst2Unit::IdForm() const
{
    return "eight hexadecimal digits";
}

} // namespace orvanta
