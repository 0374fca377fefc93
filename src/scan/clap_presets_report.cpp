#include "clap_presets_report.h"
#include "report_lines.h"
#include "../base/log_output.h"
#include "../base/memory.h"

#define HEAP_RECORD(T)                                                                 \
    void* T::operator new(size_t size) noexcept { return MemAlloc(size); }            \
    void T::operator delete(void* block) noexcept { MemFree(block); }

HEAP_RECORD(CClapProvider)
HEAP_RECORD(CClapPresetItem)
HEAP_RECORD(CClapFileType)
HEAP_RECORD(CClapPresetLocation)
HEAP_RECORD(CClapSoundpack)
HEAP_RECORD(CClapPreset)
HEAP_RECORD(CClapPresetError)

namespace {

const wchar_t* const PresetCutNames[PresetCutMembers] = {
    L"name", L"loadKey", L"plugins", L"soundpack", L"creators", L"description", L"features", L"extra"};

const wchar_t* const ProviderCutNames[ProviderCutMembers] = {
    L"fileTypes", L"fileType text", L"locations", L"location text", L"soundpacks", L"soundpack text",
    L"presets",   L"errors",        L"error text", L"walk depth",   L"walk files", L"walk time"};

// A list member whose lines are built by addLine, each one "    {...}":
// "[]" on the member's line when empty. last: no member follows.
template <typename List, typename AddLine>
bool AddList(CSharedStringA& lines, const wchar_t* name, const List& list, bool last, AddLine addLine)
{
    int count = list.Count();
    if (count == 0)
        return AddReportLine(lines, L"  \"%s\": []%s\n", name, last ? L"" : L",");
    bool ok = AddReportLine(lines, L"  \"%s\": [\n", name);
    for (int i = 0; ok && i < count; i++)
        ok = addLine(*list.Element(i), i == count - 1);
    return ok && AddReportLine(lines, L"  ]%s\n", last ? L"" : L",");
}

// ["a", "b"] of the first texts of a preset's items.
void AddTexts(CBlockLine& line, const wchar_t* name, const CClapPresetItemList& items)
{
    line.Raw(L", \"").Raw(name).Raw(L"\": [");
    for (int i = 0; i < items.Count(); i++)
        line.Raw(i == 0 ? L"" : L", ").Quoted(items.Element(i)->first);
    line.Raw(L"]");
}

// ["a", "b"] of the names whose flag is set.
void AddNames(CBlockLine& line, const bool* cut, const wchar_t* const* names, int count)
{
    line.Raw(L"[");
    bool first = true;
    for (int m = 0; m < count; m++)
        if (cut[m])
        {
            line.Raw(first ? L"" : L", ").Quoted(names[m]);
            first = false;
        }
    line.Raw(L"]");
}

bool AddProviderLine(CSharedStringA& lines, const CClapProvider& p, bool last)
{
    wchar_t version[40] = L"";
    if (p.hasVersion)
        FormatInto(version, 40, L"%u.%u.%u", p.clapVersion[0], p.clapVersion[1], p.clapVersion[2]);
    CBlockLine line;
    line.Raw(L"    {").Number(L"index", p.index, true).Text(L"problem", p.problem).Text(L"id", p.id);
    line.Text(L"name", p.name).Text(L"vendor", p.vendor).Text(L"clapVersion", version);
    return line.AddTo(lines, last);
}

bool BuildProvidersReport(const CClapProvidersInfo& info, CSharedStringA& lines)
{
    CSharedString error = EscapeJson(info.error);
    CSharedString factory = EscapeJson(info.factory);
    return !error.IsNull() && !factory.IsNull() && AddErrorLine(lines, info.error) &&
           AddReportLine(lines, L"{\n") && AddReportLine(lines, L"  \"format\": \"clap-presets\",\n") &&
           AddReportLine(lines, L"  \"error\": \"%s\",\n", error.Chars()) &&
           AddReportLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
           AddReportLine(lines, L"  \"factory\": \"%s\",\n", factory.Chars()) &&
           AddReportLine(lines, L"  \"providerCount\": %u,\n", info.providerCount) &&
           AddList(lines, L"providers", info.providers, true,
                   [&](const CClapProvider& p, bool last) { return AddProviderLine(lines, p, last); }) &&
           AddReportLine(lines, L"}\n");
}

bool AddFileTypeLine(CSharedStringA& lines, const CClapFileType& type, bool last)
{
    CBlockLine line;
    line.Raw(L"    {").Text(L"name", type.name, true).Text(L"description", type.description);
    line.Text(L"extension", type.extension);
    return line.AddTo(lines, last);
}

bool AddLocationLine(CSharedStringA& lines, const CClapPresetLocation& location, bool last)
{
    CBlockLine line;
    line.Raw(L"    {").Number(L"flags", location.flags, true).Text(L"name", location.name);
    line.Text(L"kind", location.inPlugin ? L"plugin" : L"file").Text(L"location", location.location);
    return line.AddTo(lines, last);
}

bool AddSoundpackLine(CSharedStringA& lines, const CClapSoundpack& pack, bool last)
{
    CBlockLine line;
    line.Raw(L"    {").Number(L"flags", pack.flags, true).Text(L"id", pack.id).Text(L"name", pack.name);
    line.Text(L"description", pack.description).Text(L"homepage", pack.homepage).Text(L"vendor", pack.vendor);
    line.Text(L"image", pack.image).Number64(L"released", pack.released);
    return line.AddTo(lines, last);
}

bool AddPresetLine(CSharedStringA& lines, const CClapPreset& preset, bool last)
{
    CBlockLine line;
    line.Raw(L"    {").Text(L"kind", preset.inPlugin ? L"plugin" : L"file", true);
    line.Text(L"location", preset.location).Text(L"name", preset.name).Text(L"loadKey", preset.loadKey);
    line.Raw(L", \"plugins\": [");
    for (int i = 0; i < preset.plugins.Count(); i++)
    {
        const CClapPresetItem& id = *preset.plugins.Element(i);
        line.Raw(i == 0 ? L"{" : L", {").Text(L"abi", id.first, true).Text(L"id", id.second).Raw(L"}");
    }
    line.Raw(L"]").Text(L"soundpack", preset.soundpack).Number(L"flags", preset.flags);
    AddTexts(line, L"creators", preset.creators);
    line.Text(L"description", preset.description).Number64(L"created", preset.created);
    line.Number64(L"modified", preset.modified);
    AddTexts(line, L"features", preset.features);
    line.Raw(L", \"extra\": [");
    for (int i = 0; i < preset.extra.Count(); i++)
    {
        const CClapPresetItem& pair = *preset.extra.Element(i);
        line.Raw(i == 0 ? L"[" : L", [").Quoted(pair.first).Raw(L", ").Quoted(pair.second).Raw(L"]");
    }
    line.Raw(L"], \"cut\": ");
    AddNames(line, preset.cut, PresetCutNames, PresetCutMembers);
    return line.AddTo(lines, last);
}

bool AddErrorItemLine(CSharedStringA& lines, const CClapPresetError& error, bool last)
{
    CBlockLine line;
    line.Raw(L"    {").Text(L"location", error.location, true).Signed(L"status", error.status);
    line.Text(L"message", error.message);
    return line.AddTo(lines, last);
}

bool BuildProviderReport(const CClapProviderInfo& info, CSharedStringA& lines)
{
    CSharedString provider = EscapeJson(info.provider);
    CSharedString error = EscapeJson(info.error);
    CBlockLine cut;
    cut.Raw(L"  \"cut\": ");
    AddNames(cut, info.cut, ProviderCutNames, ProviderCutMembers);
    return !provider.IsNull() && !error.IsNull() && cut.ok && AddErrorLine(lines, info.error) &&
           AddReportLine(lines, L"{\n") && AddReportLine(lines, L"  \"format\": \"clap-presets\",\n") &&
           AddReportLine(lines, L"  \"provider\": \"%s\",\n", provider.Chars()) &&
           AddReportLine(lines, L"  \"error\": \"%s\",\n", error.Chars()) &&
           AddReportLine(lines, L"  \"phase\": \"%s\",\n", info.phase) &&
           AddList(lines, L"fileTypes", info.fileTypes, false,
                   [&](const CClapFileType& t, bool last) { return AddFileTypeLine(lines, t, last); }) &&
           AddList(lines, L"locations", info.locations, false,
                   [&](const CClapPresetLocation& l, bool last) { return AddLocationLine(lines, l, last); }) &&
           AddList(lines, L"soundpacks", info.soundpacks, false,
                   [&](const CClapSoundpack& s, bool last) { return AddSoundpackLine(lines, s, last); }) &&
           AddReportLine(lines, L"  \"presetCount\": %u,\n", info.presetCount) &&
           AddList(lines, L"presets", info.presets, false,
                   [&](const CClapPreset& p, bool last) { return AddPresetLine(lines, p, last); }) &&
           AddList(lines, L"errors", info.errors, false,
                   [&](const CClapPresetError& e, bool last) { return AddErrorItemLine(lines, e, last); }) &&
           AddReportLine(lines, L"%s\n", cut.text.Chars()) && AddReportLine(lines, L"}\n");
}

} // namespace

void WriteClapProvidersReport(const CClapProvidersInfo& info)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteClapProvidersOutOfMemory(ScanNoMemoryText);
    else if (!BuildProvidersReport(info, lines))
        WriteClapProvidersOutOfMemory(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteClapProviderReport(const CClapProviderInfo& info)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteClapProviderOutOfMemory(ScanNoMemoryText);
    else if (!BuildProviderReport(info, lines))
        WriteClapProviderOutOfMemory(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteClapProvidersOutOfMemory(const char* reason)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"clap-presets\",\n");
    WriteFixedReportLine("  \"error\": \"", reason, "\",\n");
    WriteFixedReportLine("  \"phase\": \"\",\n");
    WriteFixedReportLine("  \"factory\": \"\",\n");
    WriteFixedReportLine("  \"providerCount\": 0,\n");
    WriteFixedReportLine("  \"providers\": []\n");
    WriteFixedReportLine("}\n");
}

void WriteClapProviderOutOfMemory(const char* reason)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"format\": \"clap-presets\",\n");
    WriteFixedReportLine("  \"provider\": \"\",\n");
    WriteFixedReportLine("  \"error\": \"", reason, "\",\n");
    WriteFixedReportLine("  \"phase\": \"\",\n");
    WriteFixedReportLine("  \"fileTypes\": [],\n");
    WriteFixedReportLine("  \"locations\": [],\n");
    WriteFixedReportLine("  \"soundpacks\": [],\n");
    WriteFixedReportLine("  \"presetCount\": 0,\n");
    WriteFixedReportLine("  \"presets\": [],\n");
    WriteFixedReportLine("  \"errors\": [],\n");
    WriteFixedReportLine("  \"cut\": []\n");
    WriteFixedReportLine("}\n");
}
