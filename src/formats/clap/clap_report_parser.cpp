// The CLAP blocks are strict JSON, so a standard parser reads them; what is
// checked here is their shape: every member present, of its type, in range.
#include "formats/clap/clap_report_parser.h"
#include "client/json_block.h"
#include "formats/vst3/vst3_report_parser.h"

namespace orvanta {

using json = nlohmann::json;

bool ParseClapModuleReport(const std::string& block, ClapModuleReport* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    BlockMembers read(doc, "", &problem);
    ClapModuleReport out;
    read.Format("clap");
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    read.Text("clapVersion", &out.clapVersion);
    long long count = 0;
    if (read.Whole("pluginCount", 0, UINT32_MAX, &count))
        out.pluginCount = count > INT32_MAX ? INT32_MAX : (int)count;
    if (read.Has("araFactory"))
        read.Text("araFactory", &out.araFactory);
    EachBlockObject(read, "plugins", &problem, [&](BlockMembers& p, const std::string& where) {
        ClapModuleReport::Plugin plugin;
        ClapPlugin& info = plugin.info;
        std::string vst3;
        p.Int("index", &plugin.index);
        p.Text("problem", &plugin.problem);
        p.Text("id", &info.id);
        p.Text("name", &info.name);
        p.Text("vendor", &info.vendor);
        p.Text("url", &info.url);
        p.Text("manualUrl", &info.manualUrl);
        p.Text("supportUrl", &info.supportUrl);
        p.Text("version", &info.version);
        p.Text("description", &info.description);
        p.Texts("features", &info.features);
        p.Text("clapVersion", &info.clapVersion);
        p.Texts("cut", &info.cut);
        p.Text("vst3", &vst3);
        if (problem.empty() && !vst3.empty() && !ParseClassId(vst3, &plugin.vst3))
            p.Fail("member \"" + where + "vst3\" is neither empty nor 32 hexadecimal digits");
        if (plugin.index < 0)
            p.Fail("member \"" + where + "index\" is out of range");
        out.plugins.push_back(std::move(plugin));
    });
    EachBlockObject(read, "converters", &problem, [&](BlockMembers& c, const std::string&) {
        ClapModuleReport::Converter converter;
        c.Text("srcAbi", &converter.srcAbi);
        c.Text("srcId", &converter.srcId);
        c.Text("dstAbi", &converter.dstAbi);
        c.Text("dstId", &converter.dstId);
        out.converters.push_back(std::move(converter));
    });
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

bool ParseClapPluginReport(const std::string& block, ClapPluginReport* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    BlockMembers read(doc, "", &problem);
    ClapPluginReport out;
    ClapPorts& ports = out.ports;
    read.Format("clap");
    read.Text("id", &out.id);
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    long long counts[6] = {};
    const char* const countNames[6] = {"audioInputPorts", "audioOutputPorts", "audioInputs",
                                       "audioOutputs",    "noteInputPorts",   "noteOutputPorts"};
    for (int i = 0; i < 6; i++)
        read.Whole(countNames[i], 0, INT32_MAX, &counts[i]);
    ports.audioInputPorts = (int)counts[0];
    ports.audioOutputPorts = (int)counts[1];
    ports.audioInputs = (int)counts[2];
    ports.audioOutputs = (int)counts[3];
    ports.noteInputPorts = (int)counts[4];
    ports.noteOutputPorts = (int)counts[5];
    if (read.Has("gui"))
    {
        bool gui = false;
        read.Flag("gui", &gui);
        out.gui = gui;
    }
    EachBlockObject(read, "ports", &problem, [&](BlockMembers& p, const std::string& where) {
        ClapPort port;
        p.Text("kind", &port.kind);
        p.Text("direction", &port.direction);
        p.Int("index", &port.index);
        p.Bits("id", &port.id);
        p.Text("name", &port.name);
        if (port.kind == "audio")
        {
            p.Int("channels", &port.channels);
            p.Bits("flags", &port.flags);
            p.Text("portType", &port.portType);
        }
        else if (port.kind == "note")
        {
            p.Bits("dialects", &port.dialects);
            p.Bits("preferred", &port.preferred);
        }
        else
            p.Fail("member \"" + where + "kind\" is not \"audio\" or \"note\"");
        if (port.direction != "in" && port.direction != "out")
            p.Fail("member \"" + where + "direction\" is not \"in\" or \"out\"");
        if (problem.empty() && port.kind == "note")
        {
            ClapNotePort note{port.id, port.name, port.dialects, port.preferred};
            (port.direction == "in" ? ports.noteInputs : ports.noteOutputs).push_back(note);
        }
        out.portList.push_back(std::move(port));
    });
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

} // namespace orvanta
