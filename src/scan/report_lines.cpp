#include "report_lines.h"
#include "../base/log_output.h"
#include "../exchange/exchange_text.h"

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

const wchar_t* JsonBool(bool value) { return value ? L"true" : L"false"; }

bool AddReportLine(CSharedStringA& lines, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    bool added = AppendTaggedLineV(lines, ExchangeText::ReportTag, format, args);
    va_end(args);
    return added;
}

bool AddErrorLine(CSharedStringA& lines, const CSharedString& error)
{
    return error.IsEmpty() || AppendTaggedLine(lines, ExchangeText::ErrorTag, L"%s\n", error.Chars());
}

void WriteFixedReportLine(const char* first, const char* second, const char* third)
{
    WriteFixedLine(ExchangeText::ReportTag, first, second, third);
}

void WriteFixedErrorLine(const char* reason) { WriteFixedLine(ExchangeText::ErrorTag, reason, "\n"); }

CBlockLine& CBlockLine::Raw(const wchar_t* piece)
{
    ok = ok && text.Append(piece);
    return *this;
}

CBlockLine& CBlockLine::Quoted(const wchar_t* value)
{
    CSharedString escaped = EscapeJson(value);
    ok = ok && !escaped.IsNull() && text.Append(L"\"", 1) && text.Append(escaped.Chars()) && text.Append(L"\"", 1);
    return *this;
}

CBlockLine& CBlockLine::Text(const wchar_t* name, const wchar_t* value, bool first)
{
    if (!first)
        Raw(L", ");
    return Raw(L"\"").Raw(name).Raw(L"\": ").Quoted(value);
}

CBlockLine& CBlockLine::Number(const wchar_t* name, uint32_t value, bool first)
{
    wchar_t digits[16];
    FormatInto(digits, 16, L"%u", value);
    if (!first)
        Raw(L", ");
    return Raw(L"\"").Raw(name).Raw(L"\": ").Raw(digits);
}

CBlockLine& CBlockLine::Number64(const wchar_t* name, uint64_t value)
{
    wchar_t digits[24];
    FormatInto(digits, 24, L"%I64u", value);
    return Raw(L", \"").Raw(name).Raw(L"\": ").Raw(digits);
}

CBlockLine& CBlockLine::Signed(const wchar_t* name, int32_t value)
{
    wchar_t digits[16];
    FormatInto(digits, 16, L"%i", value);
    return Raw(L", \"").Raw(name).Raw(L"\": ").Raw(digits);
}

bool CBlockLine::AddTo(CSharedStringA& lines, bool last)
{
    Raw(last ? L"}\n" : L"},\n");
    return ok && AddReportLine(lines, L"%s", text.Chars());
}
