#include "scan_report.h"
#include "../base/log_output.h"
#include "../base/memory.h"
#include "../host/vst2_abi.h"

void* CShellInfo::operator new(size_t size) noexcept { return MemAlloc(size); }
void CShellInfo::operator delete(void* block) noexcept { MemFree(block); }

CSharedString EscapeJson(const wchar_t* text)
{
    // Never null when memory allows: a null value would print as "(null)".
    CSharedString result(L"", 0);
    if (!text)
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
        if (escape)
            result.Append(escape, 2);
        else if (c >= 0x20 && c <= 0x7E)
            result.Append(&c, 1);
        else
        {
            CSharedString unit = Format(L"\\u%.4x", (unsigned)c);
            result.Append(unit, -1);
        }
    }
    return result;
}

static const wchar_t* Bool(bool value) { return value ? L"true" : L"false"; }

// Each text is escaped right before its line and released right after.
static void WriteTextLine(const wchar_t* format, const wchar_t* text)
{
    CSharedString escaped = EscapeJson(text);
    LogReport(format, escaped.IsNull() ? L"" : escaped.Chars());
}

void WriteReport(const CPluginInfo& info)
{
    LogReport(L"{\n");
    LogReport(L"  \"id\":        \"%.8X\",\n", info.id);
    WriteTextLine(L"  \"name\":      \"%s\",\n", info.name);
    WriteTextLine(L"  \"vendor\":    \"%s\",\n", info.vendor);
    WriteTextLine(L"  \"product\":   \"%s\",\n", info.product);
    WriteTextLine(L"  \"version\":   \"%s\",\n", info.version);
    WriteTextLine(L"  \"error\":     \"%s\",\n", info.error);
    LogReport(L"  \"numInputs\": %i,\n", info.numInputs);
    LogReport(L"  \"numOutputs\":%i,\n", info.numOutputs);
    LogReport(L"  \"wantsMidi\":  %s,\n", Bool(info.wantsMidi));
    LogReport(L"  \"sendsMidi\": %s,\n", Bool(info.sendsMidi));
    LogReport(L"  \"platform\":  \"%s\",\n", L"x64");
    LogReport(L"  \"audio64\":   %s,\n", Bool(info.audio64));
    LogReport(L"  \"category\":  %i,\n", info.category);
    LogReport(L"  \"synthEdit\": %s,\n", Bool(info.synthEdit));
    if (info.category == kPlugCategShell)
    {
        LogReport(L"  \"shells\": {\n");
        for (int i = 0; i < info.shells.Count(); i++)
        {
            const CShellInfo* shell = info.shells.Element(i);
            if (!shell)
                continue;
            CSharedString name = EscapeJson(shell->name);
            LogReport(L"        \"%.8X\": \"%s\",\n", shell->id, name.IsNull() ? L"" : name.Chars());
        }
        LogReport(L"  },\n");
    }
    LogReport(L"}\n");
}
