// What names the machine the server is built for, in the banner, the VST 2
// report's "platform" member and the crash dump's base name. Chosen by the
// compiler's target; everything else in the exchange is the same for both.
#pragma once

#if defined(_M_IX86) || defined(__i386__)
#define ORVANTA_PLATFORM_NAME "x86"
#elif defined(_M_X64) || defined(_M_AMD64) || defined(__x86_64__)
#define ORVANTA_PLATFORM_NAME "x64"
#else
#error "The scan server is built for x86 or x64 Windows"
#endif

#define ORVANTA_WIDE_TEXT2(text) L##text
#define ORVANTA_WIDE_TEXT(text) ORVANTA_WIDE_TEXT2(text)

// "x64" or "x86", 8-bit and wide.
#define PLATFORM_NAME ORVANTA_PLATFORM_NAME
#define PLATFORM_NAME_W ORVANTA_WIDE_TEXT(ORVANTA_PLATFORM_NAME)
// The server's first line, without its tag.
#define SERVER_BANNER_W L"Orvanta Plugin Scan Server (" PLATFORM_NAME_W L")\n"
// A crash dump's file name up to its time.
#define DUMP_BASE_NAME_W L"ZiveRivedo-" PLATFORM_NAME_W
