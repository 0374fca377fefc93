// The one rule for hexadecimal numbers in the server's input: the handles
// on the command line and the sub-plugin ID of a request.
#pragma once
#include <stdint.h>

// 0 to 15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(wchar_t c);
// Digits 0-9, a-f, A-F up to the first other character; the last 16 count.
uint64_t ParseHexArgument(const wchar_t* text);
