// A VST3 module's members in the database file (its binary, factory and
// class count) and its classes' entries: the class ID, the outcome of its
// own request (an audio module class's instance), and what was read about it.
#include "database/database_file.h"
#include "formats/vst3/vst3_host_rules.h"
#include "formats/vst3/vst3_report_parser.h"
#include "formats/vst3/vst3_unit.h"
#include "orvanta/text.h"

namespace orvanta {

namespace {

Json FactoryToJson(const Vst3Factory& factory)
{
    return {{"vendor", factory.vendor}, {"url", factory.url}, {"email", factory.email}, {"flags", factory.flags}};
}

bool FactoryFromJson(MemberReader& read, ModuleResult* module)
{
    auto factory = read.object.find("factory");
    if (factory == read.object.end())
        return true;
    if (!factory->is_object())
        return read.Fail("factory", "is not an object");
    Vst3Factory f;
    MemberReader fread{*factory, read.where + ".factory", read.error};
    if (!fread.Text("vendor", &f.vendor) || !fread.Text("url", &f.url) || !fread.Text("email", &f.email) ||
        !fread.Number("flags", &f.flags))
        return false;
    module->factory = std::move(f);
    return true;
}

void BusesToJson(const Vst3Buses& buses, Json& entry)
{
    entry["audioInputs"] = buses.audioInputs;
    entry["audioOutputs"] = buses.audioOutputs;
    entry["audioInputBuses"] = buses.audioInputBuses;
    entry["audioOutputBuses"] = buses.audioOutputBuses;
    entry["eventInputBuses"] = buses.eventInputBuses;
    entry["eventOutputBuses"] = buses.eventOutputBuses;
}

// The buses are there when any of their members is.
bool BusesFromJson(MemberReader& read, Vst3Class* c)
{
    const char* const busMembers[] = {"audioInputs",      "audioOutputs",    "audioInputBuses",
                                      "audioOutputBuses", "eventInputBuses", "eventOutputBuses"};
    for (const char* name : busMembers)
    {
        if (read.object.contains(name))
            c->buses.emplace();
    }
    if (!c->buses)
        return true;
    Vst3Buses& b = *c->buses;
    return read.Number("audioInputs", &b.audioInputs) && read.Number("audioOutputs", &b.audioOutputs) &&
           read.Number("audioInputBuses", &b.audioInputBuses) &&
           read.Number("audioOutputBuses", &b.audioOutputBuses) &&
           read.Number("eventInputBuses", &b.eventInputBuses) && read.Number("eventOutputBuses", &b.eventOutputBuses);
}

bool VendorFromJson(MemberReader& read, Vst3Class* c)
{
    std::string vendorFrom;
    if (!read.Text("vendorFrom", &vendorFrom))
        return false;
    if (!vendorFrom.empty() && vendorFrom != "factory")
        return read.Fail("vendorFrom", "is not factory");
    c->vendorFromFactory = !vendorFrom.empty();
    return true;
}

bool ControllerFromJson(MemberReader& read, Vst3Class* c)
{
    if (!read.object.contains("controller"))
        return true;
    std::string controller;
    if (!read.Text("controller", &controller) || !read.Flag("controllerListed", &c->controllerListed))
        return false;
    if (!controller.empty() && !ParseClassId(controller, &controller))
        return read.Fail("controller", "is neither empty nor 32 hexadecimal digits");
    c->controller = controller;
    return true;
}

} // namespace

Json Vst3Unit::ModuleToJson(const ModuleResult& m) const
{
    Json own = Json::object();
    PutText(own, "binary", ToUtf8(m.binary));
    if (!m.architectures.empty())
        own["architectures"] = m.architectures;
    PutText(own, "phase", m.phase);
    if (m.factory)
        own["factory"] = FactoryToJson(*m.factory);
    own["classCount"] = m.classCount;
    if (m.moduleInfoOnly)
        own["moduleInfoOnly"] = true;
    if (!m.findings.empty())
        own["findings"] = m.findings;
    return own;
}

bool Vst3Unit::ModuleFromJson(MemberReader& read, ModuleResult* m) const
{
    std::string binary;
    if (!read.Text("binary", &binary) || !read.Text("phase", &m->phase) ||
        !read.Number("classCount", &m->classCount) || !read.Flag("moduleInfoOnly", &m->moduleInfoOnly) ||
        !read.Texts("findings", &m->findings))
        return false;
    m->binary = ToWide(binary);
    return FactoryFromJson(read, m);
}

Json Vst3Unit::PluginToJson(const PluginEntry& plugin) const
{
    Json entry = Json::object();
    Vst3Class none;
    const Vst3Class& c = plugin.vst3 ? *plugin.vst3 : none;
    entry["id"] = c.classId;
    entry["status"] = StatusName(plugin.status);
    if (plugin.attempts != 1)
        entry["attempts"] = plugin.attempts;
    PutText(entry, "error", plugin.error);
    PutText(entry, "phase", plugin.phase);
    entry["category"] = c.category;
    entry["name"] = c.name;
    entry["vendor"] = c.vendor;
    if (c.vendorFromFactory)
        entry["vendorFrom"] = "factory";
    entry["version"] = c.version;
    entry["sdkVersion"] = c.sdkVersion;
    entry["subCategories"] = c.subCategories;
    entry["classFlags"] = c.classFlags;
    entry["cardinality"] = c.cardinality;
    entry["sources"] = c.sources;
    if (c.buses)
        BusesToJson(*c.buses, entry);
    if (c.controller)
    {
        entry["controller"] = *c.controller;
        entry["controllerListed"] = c.controllerListed;
    }
    return entry;
}

bool Vst3Unit::PluginFromJson(MemberReader& read, PluginEntry* plugin) const
{
    Vst3Class c;
    std::string id;
    if (!read.Text("id", &id, true))
        return false;
    // "" is a class the factory gave no info for.
    if (!id.empty() && !ParseClassId(id, &c.classId))
        return read.Fail("id", "is not 32 hexadecimal digits");
    if (!read.StatusOf(&plugin->status) || !read.Number("attempts", &plugin->attempts) ||
        !read.Text("error", &plugin->error) || !read.Text("phase", &plugin->phase) ||
        !read.Text("category", &c.category) || !read.Text("name", &c.name) ||
        !read.Text("vendor", &c.vendor) || !read.Text("version", &c.version) ||
        !read.Text("sdkVersion", &c.sdkVersion) || !read.Texts("subCategories", &c.subCategories) ||
        !read.Number("classFlags", &c.classFlags) || !read.Number("cardinality", &c.cardinality) ||
        !read.Texts("sources", &c.sources))
        return false;
    if (!VendorFromJson(read, &c) || !ControllerFromJson(read, &c) || !BusesFromJson(read, &c))
        return false;
    plugin->vst3 = std::move(c);
    return true;
}

// A VST3 class offers ARA through the module's ARA class paired with it.
void Vst3Unit::AraToJson(const AraSupport& ara, Json& member) const
{
    member["factoryClass"] = ara.factoryClass;
}

std::optional<std::string> Vst3Unit::CanonicalId(const std::string& text) const
{
    std::string id;
    if (!ParseClassId(text, &id))
        return std::nullopt;
    return id;
}

const char* Vst3Unit::IdForm() const
{
    return "32 hexadecimal digits";
}

// Files before format 4 had neither the factory's vendor on classes
// without one nor ARA: both follow from the classes themselves.
void Vst3Unit::CarryOver(ModuleResult* m) const
{
    if (m->factory)
        ApplyFactoryVendor(m->factory->vendor, &m->plugins);
    MarkVst3Ara(&m->plugins);
}

} // namespace orvanta
