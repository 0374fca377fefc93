#include "vst3_report.h"
#include "scan_report.h"
#include "../base/log_output.h"
#include "../base/memory.h"
#include "../exchange/exchange_text.h"

void* CVst3Class::operator new(size_t size) noexcept { return MemAlloc(size); }
void CVst3Class::operator delete(void* block) noexcept { MemFree(block); }
void* CVst3Bus::operator new(size_t size) noexcept { return MemAlloc(size); }
void CVst3Bus::operator delete(void* block) noexcept { MemFree(block); }

namespace {

const wchar_t* Bool(bool value) { return value ? L"true" : L"false"; }

bool AddLine(CSharedStringA& lines, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    bool added = AppendTaggedLineV(lines, ExchangeText::ReportTag, format, args);
    va_end(args);
    return added;
}

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

bool AddErrorLine(CSharedStringA& lines, const CSharedString& error)
{
    return error.IsEmpty() || AppendTaggedLine(lines, ExchangeText::ErrorTag, L"%s\n", error.Chars());
}

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
           AddLine(lines,
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
    bool ok = e.ok && AddErrorLine(lines, info.error) && AddLine(lines, L"{\n") &&
              AddLine(lines, L"  \"format\": \"vst3\",\n") &&
              AddLine(lines, L"  \"error\": \"%s\",\n", error) &&
              AddLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
              AddLine(lines, L"  \"initDll\": %s,\n", Bool(info.initDll)) &&
              AddLine(lines, L"  \"exitDll\": %s,\n", Bool(info.exitDll)) &&
              AddLine(lines,
                      L"  \"factory\": {\"vendor\": \"%s\", \"url\": \"%s\", \"email\": \"%s\", "
                      L"\"flags\": %i},\n",
                      vendor, url, email, info.factoryFlags) &&
              AddLine(lines, L"  \"classCount\": %i,\n", info.classCount);
    int count = info.classes.Count();
    if (ok && count == 0)
        ok = AddLine(lines, L"  \"classes\": []\n");
    else if (ok)
    {
        ok = AddLine(lines, L"  \"classes\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddClassLine(lines, *info.classes.Element(i), i == count - 1);
        ok = ok && AddLine(lines, L"  ]\n");
    }
    return ok && AddLine(lines, L"}\n");
}

const wchar_t* MediaName(int32_t type) { return type == 0 ? L"audio" : L"event"; }
const wchar_t* DirectionName(int32_t direction) { return direction == 0 ? L"in" : L"out"; }

bool AddBusLine(CSharedStringA& lines, const CVst3Bus& bus, bool last)
{
    CSharedString name = EscapeJson(bus.name);
    return !name.IsNull() &&
           AddLine(lines,
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
    bool ok = e.ok && AddErrorLine(lines, info.error) && AddLine(lines, L"{\n") &&
              AddLine(lines, L"  \"format\": \"vst3\",\n") &&
              AddLine(lines, L"  \"cid\": \"%s\",\n", cid) &&
              AddLine(lines, L"  \"error\": \"%s\",\n", error) &&
              AddLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
              AddLine(lines, L"  \"audioInputBuses\": %i,\n", info.busCounts[0][0]) &&
              AddLine(lines, L"  \"audioOutputBuses\": %i,\n", info.busCounts[0][1]) &&
              AddLine(lines, L"  \"eventInputBuses\": %i,\n", info.busCounts[1][0]) &&
              AddLine(lines, L"  \"eventOutputBuses\": %i,\n", info.busCounts[1][1]) &&
              AddLine(lines, L"  \"audioInputs\": %i,\n", info.audioInputs) &&
              AddLine(lines, L"  \"audioOutputs\": %i,\n", info.audioOutputs) &&
              AddLine(lines, L"  \"controller\": \"%s\",\n", info.controller);
    int count = info.buses.Count();
    if (ok && count == 0)
        ok = AddLine(lines, L"  \"buses\": []\n");
    else if (ok)
    {
        ok = AddLine(lines, L"  \"buses\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddBusLine(lines, *info.buses.Element(i), i == count - 1);
        ok = ok && AddLine(lines, L"  ]\n");
    }
    return ok && AddLine(lines, L"}\n");
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
    WriteFixedLine(ExchangeText::ErrorTag, reason, "\n");
    WriteFixedLine(ExchangeText::ReportTag, "{\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"format\": \"vst3\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"error\": \"", reason, "\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"phase\": \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"initDll\": false,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"exitDll\": false,\n");
    WriteFixedLine(ExchangeText::ReportTag,
                   "  \"factory\": {\"vendor\": \"\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"classCount\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"classes\": []\n");
    WriteFixedLine(ExchangeText::ReportTag, "}\n");
}

void WriteVst3InstanceOutOfMemory(const char* reason, const char* cid)
{
    WriteFixedLine(ExchangeText::ErrorTag, reason, "\n");
    WriteFixedLine(ExchangeText::ReportTag, "{\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"format\": \"vst3\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"cid\": \"", cid, "\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"error\": \"", reason, "\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"phase\": \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"audioInputBuses\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"audioOutputBuses\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"eventInputBuses\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"eventOutputBuses\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"audioInputs\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"audioOutputs\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"controller\": \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"buses\": []\n");
    WriteFixedLine(ExchangeText::ReportTag, "}\n");
}
