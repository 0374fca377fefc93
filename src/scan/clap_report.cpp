#include "clap_report.h"
#include "report_lines.h"
#include "../base/log_output.h"
#include "../base/memory.h"

void* CClapPlugin::operator new(size_t size) noexcept { return MemAlloc(size); }
void CClapPlugin::operator delete(void* block) noexcept { MemFree(block); }
void* CClapConverter::operator new(size_t size) noexcept { return MemAlloc(size); }
void CClapConverter::operator delete(void* block) noexcept { MemFree(block); }
void* CClapPort::operator new(size_t size) noexcept { return MemAlloc(size); }
void CClapPort::operator delete(void* block) noexcept { MemFree(block); }

namespace {

typedef CBlockLine Line;

// "1.2.2", or empty when there is no version to tell.
void VersionText(bool known, const uint32_t* version, wchar_t* text, int capacity)
{
    text[0] = 0;
    if (known)
        FormatInto(text, capacity, L"%u.%u.%u", version[0], version[1], version[2]);
}

const wchar_t* const CutMemberNames[ClapCutMembers] = {
    L"id", L"name", L"vendor", L"url", L"manualUrl", L"supportUrl", L"version", L"description", L"features"};

bool AddPluginLine(CSharedStringA& lines, const CClapPlugin& p, bool last)
{
    wchar_t version[40];
    VersionText(p.hasVersion, p.clapVersion, version, 40);
    Line line;
    line.Raw(L"    {").Number(L"index", p.index, true).Text(L"problem", p.problem).Text(L"id", p.id);
    line.Text(L"name", p.name).Text(L"vendor", p.vendor).Text(L"url", p.url);
    line.Text(L"manualUrl", p.manualUrl).Text(L"supportUrl", p.supportUrl).Text(L"version", p.version);
    line.Text(L"description", p.description).Raw(L", \"features\": [");
    for (int i = 0; i < p.featureCount; i++)
        line.Raw(i == 0 ? L"" : L", ").Quoted(p.features[i]);
    line.Raw(L"]").Text(L"clapVersion", version).Raw(L", \"cut\": [");
    bool firstCut = true;
    for (int m = 0; m < ClapCutMembers; m++)
        if (p.cut[m])
        {
            line.Raw(firstCut ? L"\"" : L", \"").Raw(CutMemberNames[m]).Raw(L"\"");
            firstCut = false;
        }
    line.Raw(L"]").Text(L"vst3", p.vst3);
    return line.AddTo(lines, last);
}

bool AddConverterLine(CSharedStringA& lines, const CClapConverter& c, bool last)
{
    Line line;
    line.Raw(L"    {").Text(L"srcAbi", c.srcAbi, true).Text(L"srcId", c.srcId);
    line.Text(L"dstAbi", c.dstAbi).Text(L"dstId", c.dstId);
    return line.AddTo(lines, last);
}

bool BuildModuleReport(const CClapModuleInfo& info, CSharedStringA& lines)
{
    wchar_t version[40];
    VersionText(info.hasVersion, info.clapVersion, version, 40);
    CSharedString error = EscapeJson(info.error);
    CSharedString ara = EscapeJson(info.araFactory);
    bool ok = !error.IsNull() && !ara.IsNull() && AddErrorLine(lines, info.error) && AddReportLine(lines, L"{\n") &&
              AddReportLine(lines, L"  \"format\": \"clap\",\n") &&
              AddReportLine(lines, L"  \"error\": \"%s\",\n", error.Chars()) &&
              AddReportLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
              AddReportLine(lines, L"  \"clapVersion\": \"%s\",\n", version) &&
              AddReportLine(lines, L"  \"pluginCount\": %u,\n", info.pluginCount) &&
              AddReportLine(lines, L"  \"araFactory\": \"%s\",\n", ara.Chars());
    int count = info.plugins.Count();
    if (ok && count == 0)
        ok = AddReportLine(lines, L"  \"plugins\": [],\n");
    else if (ok)
    {
        ok = AddReportLine(lines, L"  \"plugins\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddPluginLine(lines, *info.plugins.Element(i), i == count - 1);
        ok = ok && AddReportLine(lines, L"  ],\n");
    }
    count = info.converters.Count();
    if (ok && count == 0)
        ok = AddReportLine(lines, L"  \"converters\": []\n");
    else if (ok)
    {
        ok = AddReportLine(lines, L"  \"converters\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddConverterLine(lines, *info.converters.Element(i), i == count - 1);
        ok = ok && AddReportLine(lines, L"  ]\n");
    }
    return ok && AddReportLine(lines, L"}\n");
}

bool AddPortLine(CSharedStringA& lines, const CClapPort& port, bool last)
{
    Line line;
    line.Raw(L"    {").Text(L"kind", port.note ? L"note" : L"audio", true);
    line.Text(L"direction", port.input ? L"in" : L"out").Number(L"index", port.index);
    line.Number(L"id", port.id).Text(L"name", port.name);
    if (port.note)
        line.Number(L"dialects", port.dialects).Number(L"preferred", port.preferred);
    else
        line.Number(L"channels", port.channels).Number(L"flags", port.flags).Text(L"portType", port.portType);
    return line.AddTo(lines, last);
}

bool BuildInstanceReport(const CClapInstanceInfo& info, CSharedStringA& lines)
{
    CSharedString id = EscapeJson(info.id);
    CSharedString error = EscapeJson(info.error);
    bool ok = !id.IsNull() && !error.IsNull() && AddErrorLine(lines, info.error) && AddReportLine(lines, L"{\n") &&
              AddReportLine(lines, L"  \"format\": \"clap\",\n") &&
              AddReportLine(lines, L"  \"id\": \"%s\",\n", id.Chars()) &&
              AddReportLine(lines, L"  \"error\": \"%s\",\n", error.Chars()) &&
              AddReportLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
              AddReportLine(lines, L"  \"audioInputPorts\": %u,\n", info.portCounts[0][1]) &&
              AddReportLine(lines, L"  \"audioOutputPorts\": %u,\n", info.portCounts[0][0]) &&
              AddReportLine(lines, L"  \"audioInputs\": %u,\n", info.audioInputs) &&
              AddReportLine(lines, L"  \"audioOutputs\": %u,\n", info.audioOutputs) &&
              AddReportLine(lines, L"  \"noteInputPorts\": %u,\n", info.portCounts[1][1]) &&
              AddReportLine(lines, L"  \"noteOutputPorts\": %u,\n", info.portCounts[1][0]) &&
              AddReportLine(lines, L"  \"gui\": %s,\n", info.gui ? L"true" : L"false");
    int count = info.ports.Count();
    if (ok && count == 0)
        ok = AddReportLine(lines, L"  \"ports\": []\n");
    else if (ok)
    {
        ok = AddReportLine(lines, L"  \"ports\": [\n");
        for (int i = 0; ok && i < count; i++)
            ok = AddPortLine(lines, *info.ports.Element(i), i == count - 1);
        ok = ok && AddReportLine(lines, L"  ]\n");
    }
    return ok && AddReportLine(lines, L"}\n");
}

} // namespace

void WriteClapModuleReport(const CClapModuleInfo& info)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteClapModuleOutOfMemory(ScanNoMemoryText);
    else if (!BuildModuleReport(info, lines))
        WriteClapModuleOutOfMemory(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteClapInstanceReport(const CClapInstanceInfo& info)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteClapInstanceOutOfMemory(ScanNoMemoryText);
    else if (!BuildInstanceReport(info, lines))
        WriteClapInstanceOutOfMemory(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteClapModuleOutOfMemory(const char* reason)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"clap\",\n");
    WriteFixedReportLine("  \"error\": \"", reason, "\",\n");
    WriteFixedReportLine("  \"phase\": \"\",\n");
    WriteFixedReportLine("  \"clapVersion\": \"\",\n");
    WriteFixedReportLine("  \"pluginCount\": 0,\n");
    WriteFixedReportLine("  \"araFactory\": \"\",\n");
    WriteFixedReportLine("  \"plugins\": [],\n");
    WriteFixedReportLine("  \"converters\": []\n");
    WriteFixedReportLine("}\n");
}

void WriteClapInstanceOutOfMemory(const char* reason)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"clap\",\n");
    WriteFixedReportLine("  \"id\": \"\",\n");
    WriteFixedReportLine("  \"error\": \"", reason, "\",\n");
    WriteFixedReportLine("  \"phase\": \"\",\n");
    WriteFixedReportLine("  \"audioInputPorts\": 0,\n");
    WriteFixedReportLine("  \"audioOutputPorts\": 0,\n");
    WriteFixedReportLine("  \"audioInputs\": 0,\n");
    WriteFixedReportLine("  \"audioOutputs\": 0,\n");
    WriteFixedReportLine("  \"noteInputPorts\": 0,\n");
    WriteFixedReportLine("  \"noteOutputPorts\": 0,\n");
    WriteFixedReportLine("  \"gui\": false,\n");
    WriteFixedReportLine("  \"ports\": []\n");
    WriteFixedReportLine("}\n");
}
