// What the report blocks of every format share: the JSON escaping of their
// texts, the reasons of the out-of-memory answers, and their lines, built
// in memory or, when memory has run out, written from fixed text.
#pragma once
#include "../base/shared_string.h"
#include <stdint.h>

// The reasons of the out-of-memory answers.
extern const char RequestNoMemoryText[]; // the request line could not be made
extern const char ScanNoMemoryText[];    // a text of the scan could not be made
extern const char ReportNoMemoryText[];  // a line of the report could not be made

// The text made safe to stand between double quotes, one 16-bit unit at a
// time; a null or empty text gives an empty (not null) string. Null when
// memory runs out: never a shortened text.
CSharedString EscapeJson(const wchar_t* text);
const wchar_t* JsonBool(bool value);

// Appends one line of a report block (">:" and the formatted text) to
// lines; false when memory runs out.
bool AddReportLine(CSharedStringA& lines, const wchar_t* format, ...);
// Appends "error:" and the error when there is one; false when memory runs
// out.
bool AddErrorLine(CSharedStringA& lines, const CSharedString& error);

// The same lines from fixed text, allocating nothing: the parts of a block
// line after its ">:", and the error line of a reason.
void WriteFixedReportLine(const char* first, const char* second = "", const char* third = "");
void WriteFixedErrorLine(const char* reason);

// One line of a JSON block's list made piece by piece: "    {" and its
// members, then "}" or "},". ok stays false once any piece could not be
// added, so a line is whole or not written at all.
struct CBlockLine
{
    CSharedString text;
    bool ok = true;

    CBlockLine& Raw(const wchar_t* piece);
    // The value escaped, between double quotes.
    CBlockLine& Quoted(const wchar_t* value);
    // "name": "value", with ", " in front unless first.
    CBlockLine& Text(const wchar_t* name, const wchar_t* value, bool first = false);
    // "name": value, likewise.
    CBlockLine& Number(const wchar_t* name, uint32_t value, bool first = false);
    CBlockLine& Number64(const wchar_t* name, uint64_t value);
    CBlockLine& Signed(const wchar_t* name, int32_t value);
    // Ends the line ("}" for the last one of its list, else "},") and adds
    // it to lines; false when memory ran out on the way.
    bool AddTo(CSharedStringA& lines, bool last);
};
