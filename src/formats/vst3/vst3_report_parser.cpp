// The VST3 blocks are strict JSON, so a standard parser reads them; what is
// checked here is their shape: every member present, of its type, in range.
#include "formats/vst3/vst3_report_parser.h"
#include "client/json_block.h"

namespace orvanta {
using json = nlohmann::json;
using Members = BlockMembers;

bool ParseClassId(const std::string& text, std::string* classId)
{
    if (text.size() != 32)
        return false;
    std::string upper = text;
    for (char& c : upper)
    {
        if (c >= 'a' && c <= 'f')
            c = (char)(c - 'a' + 'A');
        else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    *classId = upper;
    return true;
}

std::vector<std::string> SplitSubCategories(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        size_t bar = text.find('|', start);
        std::string part = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!part.empty())
            parts.push_back(part);
        if (bar == std::string::npos)
            return parts;
        start = bar + 1;
    }
}

bool ParseVst3ModuleReport(const std::string& block, Vst3ModuleReport* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    Members read(doc, "", &problem);
    Vst3ModuleReport out;
    read.Format("vst3");
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    read.Flag("initDll", &out.initDll);
    read.Flag("exitDll", &out.exitDll);
    if (const json* factory = read.Object("factory"))
    {
        Members f(*factory, "factory.", &problem);
        f.Text("vendor", &out.factory.vendor);
        f.Text("url", &out.factory.url);
        f.Text("email", &out.factory.email);
        uint32_t flags = 0;
        f.Bits("flags", &flags);
        out.factory.flags = (int32_t)flags;
    }
    read.Int("classCount", &out.classCount);
    if (const json* classes = read.List("classes"))
    {
        for (size_t i = 0; i < classes->size() && problem.empty(); i++)
        {
            const json& entry = (*classes)[i];
            std::string where = "classes[" + std::to_string(i) + "].";
            if (!entry.is_object())
            {
                problem = "member \"classes[" + std::to_string(i) + "]\" is not an object";
                break;
            }
            Members c(entry, where, &problem);
            Vst3ModuleReport::Class cls;
            Vst3Class& info = cls.info;
            std::string cid, subCategories;
            int cardinality = 0;
            c.Int("index", &cls.index);
            c.Text("cid", &cid);
            c.Text("category", &info.category);
            c.Text("name", &info.name);
            c.Int("cardinality", &cardinality);
            c.Int("infoLevel", &cls.infoLevel);
            c.Bits("classFlags", &info.classFlags);
            c.Text("subCategories", &subCategories);
            c.Text("vendor", &info.vendor);
            c.Text("version", &info.version);
            c.Text("sdkVersion", &info.sdkVersion);
            if (!problem.empty())
                break;
            info.cardinality = cardinality;
            info.subCategories = SplitSubCategories(subCategories);
            // A class whose info could not be read has no ID to give.
            if (!(cls.infoLevel == 0 && cid.empty()) && !ParseClassId(cid, &info.classId))
                problem = "member \"" + where + "cid\" is not 32 hexadecimal digits";
            if (cls.infoLevel < 0 || cls.infoLevel > 3)
                c.Fail("member \"" + where + "infoLevel\" is out of range");
            out.classes.push_back(std::move(cls));
        }
    }
    if (out.classCount < 0)
        read.Fail("member \"classCount\" is out of range");
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

bool ParseVst3ClassReport(const std::string& block, Vst3ClassReport* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    Members read(doc, "", &problem);
    Vst3ClassReport out;
    read.Format("vst3");
    std::string cid;
    read.Text("cid", &cid);
    if (problem.empty() && !ParseClassId(cid, &out.classId))
        problem = "member \"cid\" is not 32 hexadecimal digits";
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    Vst3Buses& b = out.buses;
    read.Int("audioInputBuses", &b.audioInputBuses);
    read.Int("audioOutputBuses", &b.audioOutputBuses);
    read.Int("eventInputBuses", &b.eventInputBuses);
    read.Int("eventOutputBuses", &b.eventOutputBuses);
    read.Int("audioInputs", &b.audioInputs);
    read.Int("audioOutputs", &b.audioOutputs);
    if (read.Has("controller"))
    {
        std::string controller, id;
        read.Text("controller", &controller);
        if (problem.empty() && !controller.empty() && !ParseClassId(controller, &id))
            problem = "member \"controller\" is neither empty nor 32 hexadecimal digits";
        out.controller = id;
    }
    if (const json* buses = read.List("buses"))
    {
        for (size_t i = 0; i < buses->size() && problem.empty(); i++)
        {
            const json& entry = (*buses)[i];
            std::string where = "buses[" + std::to_string(i) + "].";
            if (!entry.is_object())
            {
                problem = "member \"buses[" + std::to_string(i) + "]\" is not an object";
                break;
            }
            Members m(entry, where, &problem);
            Vst3Bus bus;
            m.Text("media", &bus.media);
            m.Text("direction", &bus.direction);
            m.Int("index", &bus.index);
            m.Text("name", &bus.name);
            m.Int("channels", &bus.channels);
            m.Int("busType", &bus.busType);
            m.Bits("flags", &bus.flags);
            if (problem.empty() && bus.media != "audio" && bus.media != "event")
                problem = "member \"" + where + "media\" is not \"audio\" or \"event\"";
            if (problem.empty() && bus.direction != "in" && bus.direction != "out")
                problem = "member \"" + where + "direction\" is not \"in\" or \"out\"";
            out.busList.push_back(std::move(bus));
        }
    }
    for (int count : {b.audioInputBuses, b.audioOutputBuses, b.eventInputBuses, b.eventOutputBuses,
                      b.audioInputs, b.audioOutputs})
    {
        if (count < 0)
            read.Fail("a bus count or channel count is below 0");
    }
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

} // namespace orvanta
