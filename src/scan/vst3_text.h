// The texts a VST3 plugin hands over in fixed-size arrays, and the text form
// of its class IDs. An array is read only up to its size, whether or not it
// holds a terminator.
#pragma once
#include "../base/shared_string.h"

// 8-bit UTF-8 text: each byte of a sequence that is not UTF-8 (a stray or
// missing continuation byte, an overlong form, a surrogate, a code point
// past U+10FFFF) becomes U+FFFD. Null when memory runs out.
CSharedString TextFromUtf8Array(const char* array, int size);
// 16-bit UTF-16 text: an unpaired surrogate becomes U+FFFD. Null when
// memory runs out.
CSharedString TextFromUtf16Array(const wchar_t* array, int size);

// Characters of a class ID's text, terminator not counted.
const int ClassIdDigits = 32;
// The four 32-bit words that declare the ID, as 32 upper-case hexadecimal
// digits: memory bytes 0-3 read little-endian, 4-7 as two little-endian
// 16-bit halves, 8-15 as they stand. text holds ClassIdDigits + 1.
void FormatClassId(const char* cid, wchar_t* text);
// The reverse, for exactly 32 hexadecimal digits of either case; false for
// any other text.
bool ParseClassId(const wchar_t* text, char* cid);
