#include "scan_report.h"
#include "../base/log_output.h"
#include "../base/memory.h"
#include "../exchange/exchange_text.h"
#include "../host/vst2_abi.h"

void* CShellInfo::operator new(size_t size) noexcept { return MemAlloc(size); }
void CShellInfo::operator delete(void* block) noexcept { MemFree(block); }

const char RequestNoMemoryText[] = "Out of memory while reading the request";
const char ScanNoMemoryText[] = "Out of memory while scanning the plugin";
const char ReportNoMemoryText[] = "Out of memory while writing the report";

CSharedString EscapeJson(const wchar_t* text)
{
    // Never null when memory allows: a null value would print as "(null)".
    CSharedString result(L"", 0);
    if (!text || result.IsNull())
        return result;
    for (; *text; text++)
    {
        wchar_t c = *text;
        const wchar_t* escape = nullptr;
        switch (c)
        {
        case 0x22: escape = L"\\\""; break;
        case 0x5C: escape = L"\\\\"; break;
        case 0x2F: escape = L"\\/"; break;
        case 0x08: escape = L"\\b"; break;
        case 0x0C: escape = L"\\f"; break;
        case 0x0A: escape = L"\\n"; break;
        case 0x0D: escape = L"\\r"; break;
        case 0x09: escape = L"\\t"; break;
        }
        bool added;
        if (escape)
            added = result.Append(escape, 2);
        else if (c >= 0x20 && c <= 0x7E)
            added = result.Append(&c, 1);
        else
        {
            wchar_t unit[8];
            added = FormatInto(unit, 8, L"\\u%.4x", (unsigned)c) && result.Append(unit, 6);
        }
        if (!added)
            return CSharedString();
    }
    return result;
}

static const wchar_t* Bool(bool value) { return value ? L"true" : L"false"; }

static bool AddLine(CSharedStringA& lines, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    bool added = AppendTaggedLineV(lines, ExchangeText::ReportTag, format, args);
    va_end(args);
    return added;
}

static bool AddTextLine(CSharedStringA& lines, const wchar_t* format, const wchar_t* text)
{
    CSharedString escaped = EscapeJson(text);
    return !escaped.IsNull() && AddLine(lines, format, escaped.Chars());
}

static bool BuildReport(const CPluginInfo& info, bool failed, bool editorMember, CSharedStringA& lines)
{
    if (failed && (info.error.IsNull() ||
                   !AppendTaggedLine(lines, ExchangeText::ErrorTag, L"%s\n", info.error.Chars())))
        return false;
    bool ok = AddLine(lines, L"{\n") &&
              AddLine(lines, L"  \"id\":        \"%.8X\",\n", info.id) &&
              AddTextLine(lines, L"  \"name\":      \"%s\",\n", info.name) &&
              AddTextLine(lines, L"  \"vendor\":    \"%s\",\n", info.vendor) &&
              AddTextLine(lines, L"  \"product\":   \"%s\",\n", info.product) &&
              AddTextLine(lines, L"  \"version\":   \"%s\",\n", info.version) &&
              AddTextLine(lines, L"  \"error\":     \"%s\",\n", info.error) &&
              AddLine(lines, L"  \"numInputs\": %i,\n", info.numInputs) &&
              AddLine(lines, L"  \"numOutputs\":%i,\n", info.numOutputs) &&
              AddLine(lines, L"  \"wantsMidi\":  %s,\n", Bool(info.wantsMidi)) &&
              AddLine(lines, L"  \"sendsMidi\": %s,\n", Bool(info.sendsMidi)) &&
              AddLine(lines, L"  \"platform\":  \"%s\",\n", L"x64") &&
              AddLine(lines, L"  \"audio64\":   %s,\n", Bool(info.audio64)) &&
              AddLine(lines, L"  \"category\":  %i,\n", info.category) &&
              AddLine(lines, L"  \"synthEdit\": %s,\n", Bool(info.synthEdit)) &&
              (!editorMember || AddLine(lines, L"  \"hasEditor\": %s,\n", Bool(info.hasEditor)));
    if (ok && info.category == kPlugCategShell)
    {
        ok = AddLine(lines, L"  \"shells\": {\n");
        for (int i = 0; ok && i < info.shells.Count(); i++)
        {
            const CShellInfo* shell = info.shells.Element(i);
            if (!shell)
                continue;
            CSharedString name = EscapeJson(shell->name);
            ok = !name.IsNull() && AddLine(lines, L"        \"%.8X\": \"%s\",\n", shell->id, name.Chars());
        }
        ok = ok && AddLine(lines, L"  },\n");
    }
    return ok && AddLine(lines, L"}\n");
}

void WriteReport(const CPluginInfo& info, bool failed, bool editorMember)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteOutOfMemoryReport(ScanNoMemoryText);
    else if (!BuildReport(info, failed, editorMember, lines))
        WriteOutOfMemoryReport(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteOutOfMemoryReport(const char* reason)
{
    WriteFixedLine(ExchangeText::ErrorTag, reason, "\n");
    WriteFixedLine(ExchangeText::ReportTag, "{\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"id\":        \"00000000\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"name\":      \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"vendor\":    \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"product\":   \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"version\":   \"\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"error\":     \"", reason, "\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"numInputs\": 0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"numOutputs\":0,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"wantsMidi\":  false,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"sendsMidi\": false,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"platform\":  \"x64\",\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"audio64\":   false,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"category\":  -1,\n");
    WriteFixedLine(ExchangeText::ReportTag, "  \"synthEdit\": false,\n");
    WriteFixedLine(ExchangeText::ReportTag, "}\n");
}
