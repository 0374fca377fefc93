#include "vst2_report.h"
#include "report_lines.h"
#include "../base/log_output.h"
#include "../base/platform_name.h"
#include "../base/memory.h"
#include "../exchange/exchange_text.h"
#include "../host/vst2_abi.h"

void* CShellInfo::operator new(size_t size) noexcept { return MemAlloc(size); }
void CShellInfo::operator delete(void* block) noexcept { MemFree(block); }

static bool AddTextLine(CSharedStringA& lines, const wchar_t* format, const wchar_t* text)
{
    CSharedString escaped = EscapeJson(text);
    return !escaped.IsNull() && AddReportLine(lines, format, escaped.Chars());
}

static bool BuildReport(const CVst2PluginInfo& info, bool failed, bool editorMember, CSharedStringA& lines)
{
    if (failed && (info.error.IsNull() ||
                   !AppendTaggedLine(lines, ExchangeText::ErrorTag, L"%s\n", info.error.Chars())))
        return false;
    bool ok = AddReportLine(lines, L"{\n") &&
              AddReportLine(lines, L"  \"id\":        \"%.8X\",\n", info.id) &&
              AddTextLine(lines, L"  \"name\":      \"%s\",\n", info.name) &&
              AddTextLine(lines, L"  \"vendor\":    \"%s\",\n", info.vendor) &&
              AddTextLine(lines, L"  \"product\":   \"%s\",\n", info.product) &&
              AddTextLine(lines, L"  \"version\":   \"%s\",\n", info.version) &&
              AddTextLine(lines, L"  \"error\":     \"%s\",\n", info.error) &&
              AddReportLine(lines, L"  \"numInputs\": %i,\n", info.numInputs) &&
              AddReportLine(lines, L"  \"numOutputs\":%i,\n", info.numOutputs) &&
              AddReportLine(lines, L"  \"wantsMidi\":  %s,\n", JsonBool(info.wantsMidi)) &&
              AddReportLine(lines, L"  \"sendsMidi\": %s,\n", JsonBool(info.sendsMidi)) &&
              AddReportLine(lines, L"  \"platform\":  \"%s\",\n", PLATFORM_NAME_W) &&
              AddReportLine(lines, L"  \"audio64\":   %s,\n", JsonBool(info.audio64)) &&
              AddReportLine(lines, L"  \"category\":  %i,\n", info.category) &&
              AddReportLine(lines, L"  \"synthEdit\": %s,\n", JsonBool(info.synthEdit)) &&
              (!editorMember || AddReportLine(lines, L"  \"hasEditor\": %s,\n", JsonBool(info.hasEditor)));
    if (ok && info.category == kPlugCategShell)
    {
        ok = AddReportLine(lines, L"  \"shells\": {\n");
        for (int i = 0; ok && i < info.shells.Count(); i++)
        {
            const CShellInfo* shell = info.shells.Element(i);
            if (!shell)
                continue;
            CSharedString name = EscapeJson(shell->name);
            ok = !name.IsNull() && AddReportLine(lines, L"        \"%.8X\": \"%s\",\n", shell->id, name.Chars());
        }
        ok = ok && AddReportLine(lines, L"  },\n");
    }
    return ok && AddReportLine(lines, L"}\n");
}

void WriteVst2Report(const CVst2PluginInfo& info, bool failed, bool editorMember)
{
    CSharedStringA lines;
    if (info.noMemory)
        WriteVst2OutOfMemory(ScanNoMemoryText);
    else if (!BuildReport(info, failed, editorMember, lines))
        WriteVst2OutOfMemory(ReportNoMemoryText);
    else
        WriteLines(lines.Chars(), lines.Length());
}

void WriteVst2OutOfMemory(const char* reason)
{
    WriteFixedErrorLine(reason);
    WriteFixedReportLine("{\n");
    WriteFixedReportLine("  \"id\":        \"00000000\",\n");
    WriteFixedReportLine("  \"name\":      \"\",\n");
    WriteFixedReportLine("  \"vendor\":    \"\",\n");
    WriteFixedReportLine("  \"product\":   \"\",\n");
    WriteFixedReportLine("  \"version\":   \"\",\n");
    WriteFixedReportLine("  \"error\":     \"", reason, "\",\n");
    WriteFixedReportLine("  \"numInputs\": 0,\n");
    WriteFixedReportLine("  \"numOutputs\":0,\n");
    WriteFixedReportLine("  \"wantsMidi\":  false,\n");
    WriteFixedReportLine("  \"sendsMidi\": false,\n");
    WriteFixedReportLine("  \"platform\":  \"" PLATFORM_NAME "\",\n");
    WriteFixedReportLine("  \"audio64\":   false,\n");
    WriteFixedReportLine("  \"category\":  -1,\n");
    WriteFixedReportLine("  \"synthEdit\": false,\n");
    WriteFixedReportLine("}\n");
}
