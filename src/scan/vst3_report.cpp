#include "vst3_report.h"
#include "report_lines.h"
#include "../base/log_output.h"
#include "../base/memory.h"

void* CVst3Class::operator new(size_t size) noexcept { return MemAlloc(size); }
void CVst3Class::operator delete(void* block) noexcept { MemFree(block); }
void* CVst3Bus::operator new(size_t size) noexcept { return MemAlloc(size); }
void CVst3Bus::operator delete(void* block) noexcept { MemFree(block); }

namespace {

// The escaped texts of one line, made before the line is formatted; ok is
// false once any of them could not be made.
struct Escaped
{
    CSharedString text[6];
    bool ok = true;

    const wchar_t* operator()(int slot, const wchar_t* value)
    {
        text[slot] = EscapeJson(value);
        ok = ok && !text[slot].IsNull();
        return text[slot].IsNull() ? L"" : text[slot].Chars();
    }
};

bool AddClassLine(CSharedStringA& lines, const CVst3Class& c, bool last)
{
    Escaped e;
    const wchar_t* cid = e(0, c.cid);
    const wchar_t* category = e(1, c.category);
    const wchar_t* name = e(2, c.name);
    const wchar_t* subCategories = e(3, c.subCategories);
    const wchar_t* vendor = e(4, c.vendor);
    const wchar_t* version = e(5, c.version);
    CSharedString sdkVersion = EscapeJson(c.sdkVersion);
    return e.ok && !sdkVersion.IsNull() &&
           AddReportLine(lines,
                         L"    {\"index\": %i, \"cid\": \"%s\", \"category\": \"%s\", \"name\": \"%s\", "
                         L"\"cardinality\": %i, \"infoLevel\": %i, \"classFlags\": %u, "
                         L"\"subCategories\": \"%s\", \"vendor\": \"%s\", \"version\": \"%s\", "
                         L"\"sdkVersion\": \"%s\"}%s\n",
                         c.index, cid, category, name, c.cardinality, c.infoLevel, c.classFlags,
                         subCategories, vendor, version, sdkVersion.Chars(), last ? L"" : L",");
}

bool BuildModuleReport(const CVst3ModuleInfo& info, CSharedStringA& lines)
{
    Escaped e;
    const wchar_t* error = e(0, info.error);
    const wchar_t* vendor = e(1, info.factoryVendor);
    const wchar_t* url = e(2, info.factoryUrl);
    const wchar_t* email = e(3, info.factoryEmail);
    bool ok = e.ok && AddErrorLine(lines, info.error) && AddReportLine(lines, L"{\n") &&
              AddReportLine(lines, L"  \"format\": \"vst3\",\n") &&
              AddReportLine(lines, L"  \"error\": \"%s\",\n", error) &&
              AddReportLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
              AddReportLine(lines, L"  \"initDll\": %s,\n", JsonBool(info.initDll)) &&
              AddReportLine(lines, L"  \"exitDll\": %s,\n", JsonBool(info.exitDll)) &&
              AddReportLine(lines,
                            L"  \"factory\": {\"vendor\": \"%s\", \"url\": \"%s\", \"email\": \"%s\", "
                            L"\"flags\": %i},\n",
                            vendor, url, email, info.factoryFlags) &&
              AddReportLine(lines, L"  \"classCount\": %i,\n", info.classCount);
    int count = info.classes.Count();
    if (ok && count == 0)
        ok = AddReportLine(lines, L"  \"classes\": []\n");
    else if (ok)
    {
        ok = AddReportLine(lines, L"  \"classes\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddClassLine(lines, *info.classes.Element(i), i == count - 1);
        ok = ok && AddReportLine(lines, L"  ]\n");
    }
    return ok && AddReportLine(lines, L"}\n");
}

const wchar_t* MediaName(int32_t type) { return type == 0 ? L"audio" : L"event"; }
const wchar_t* DirectionName(int32_t direction) { return direction == 0 ? L"in" : L"out"; }

bool AddBusLine(CSharedStringA& lines, const CVst3Bus& bus, bool last)
{
    CSharedString name = EscapeJson(bus.name);
    return !name.IsNull() &&
           AddReportLine(lines,
                         L"    {\"media\": \"%s\", \"direction\": \"%s\", \"index\": %i, \"name\": \"%s\", "
                         L"\"channels\": %i, \"busType\": %i, \"flags\": %u}%s\n",
                         MediaName(bus.mediaType), DirectionName(bus.direction), bus.index, name.Chars(),
                         bus.channels, bus.busType, bus.flags, last ? L"" : L",");
}

bool BuildInstanceReport(const CVst3InstanceInfo& info, CSharedStringA& lines)
{
    Escaped e;
    const wchar_t* cid = e(0, info.cid);
    const wchar_t* error = e(1, info.error);
    bool ok = e.ok && AddErrorLine(lines, info.error) && AddReportLine(lines, L"{\n") &&
              AddReportLine(lines, L"  \"format\": \"vst3\",\n") &&
              AddReportLine(lines, L"  \"cid\": \"%s\",\n", cid) &&
              AddReportLine(lines, L"  \"error\": \"%s\",\n", error) &&
              AddReportLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
              AddReportLine(lines, L"  \"audioInputBuses\": %i,\n", info.busCounts[0][0]) &&
              AddReportLine(lines, L"  \"audioOutputBuses\": %i,\n", info.busCounts[0][1]) &&
              AddReportLine(lines, L"  \"eventInputBuses\": %i,\n", info.busCounts[1][0]) &&
              AddReportLine(lines, L"  \"eventOutputBuses\": %i,\n", info.busCounts[1][1]) &&
              AddReportLine(lines, L"  \"audioInputs\": %i,\n", info.audioInputs) &&
              AddReportLine(lines, L"  \"audioOutputs\": %i,\n", info.audioOutputs) &&
              AddReportLine(lines, L"  \"controller\": \"%s\",\n", info.controller);
    int count = info.buses.Count();
    if (ok && count == 0)
        ok = AddReportLine(lines, L"  \"buses\": []\n");
    else if (ok)
    {
        ok = AddReportLine(lines, L"  \"buses\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddBusLine(lines, *info.buses.Element(i), i == count - 1);
        ok = ok && AddReportLine(lines, L"  ]\n");
    }
    return ok && AddReportLine(lines, L"}\n");
}

} // namespace

void WriteVst3ModuleReport(const CVst3ModuleInfo& info)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteVst3ModuleOutOfMemory(ScanNoMemoryText);
    else if (!BuildModuleReport(info, lines))
        WriteVst3ModuleOutOfMemory(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteVst3InstanceReport(const CVst3InstanceInfo& info, const char* cid)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteVst3InstanceOutOfMemory(ScanNoMemoryText, cid);
    else if (!BuildInstanceReport(info, lines))
        WriteVst3InstanceOutOfMemory(ReportNoMemoryText, cid);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteVst3ModuleOutOfMemory(const char* reason)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"vst3\",\n");
    WriteFixedReportLine("  \"error\": \"", reason, "\",\n");
    WriteFixedReportLine("  \"phase\": \"\",\n");
    WriteFixedReportLine("  \"initDll\": false,\n");
    WriteFixedReportLine("  \"exitDll\": false,\n");
    WriteFixedReportLine("  \"factory\": {\"vendor\": \"\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n");
    WriteFixedReportLine("  \"classCount\": 0,\n");
    WriteFixedReportLine("  \"classes\": []\n");
    WriteFixedReportLine("}\n");
}

void WriteVst3InstanceOutOfMemory(const char* reason, const char* cid)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"vst3\",\n");
    WriteFixedReportLine("  \"cid\": \"", cid, "\",\n");
    WriteFixedReportLine("  \"error\": \"", reason, "\",\n");
    WriteFixedReportLine("  \"phase\": \"\",\n");
    WriteFixedReportLine("  \"audioInputBuses\": 0,\n");
    WriteFixedReportLine("  \"audioOutputBuses\": 0,\n");
    WriteFixedReportLine("  \"eventInputBuses\": 0,\n");
    WriteFixedReportLine("  \"eventOutputBuses\": 0,\n");
    WriteFixedReportLine("  \"audioInputs\": 0,\n");
    WriteFixedReportLine("  \"audioOutputs\": 0,\n");
    WriteFixedReportLine("  \"controller\": \"\",\n");
    WriteFixedReportLine("  \"buses\": []\n");
    WriteFixedReportLine("}\n");
}
