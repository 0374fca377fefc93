// The machines the tests run servers and fixtures of: the 64-bit build in
// bin\, and the 32-bit build beside it (scanserver32.exe in bin\, the x86
// fixtures in bin\x86\ with the same layout as the 64-bit ones in bin\).
// A test program tests the 64-bit server unless ORVANTA_TEST_MACHINE is
// "x86" (the x86.* copies of the end-to-end tests); a 32-bit test program
// (the x86 unit tests) tests its own machine.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <string>

namespace testsupport {

// bin\scanserver32.exe
std::wstring X86ServerPath();
// bin\x86\plugins\NAME.dll
std::wstring X86FixturePath(const std::wstring& name);
// bin\x86\samples\NAME.dll
std::wstring X86SamplePath(const std::wstring& name);
// bin\x86\NAME: any file of the 32-bit build (x86\vst3\..., x86\clap\...).
std::wstring X86BinPath(const std::wstring& name);

// Whether a 32-bit program runs here: starts bin\x86\machine_probe.exe (a
// trivial 32-bit program, not the server, so that a broken server fails
// rather than skips) once per process and keeps the answer. When it does
// not run, *why says what happened (no 32-bit build, a kernel that refuses
// 32-bit code, a Wine without its 32-bit half).
bool X86ProgramsRun(std::string* why);

enum class Machine
{
    X64,
    X86
};

// The machine of the server and fixtures under test.
Machine MachineUnderTest();
// Whether programs of that machine run here; *why as for X86ProgramsRun.
bool MachineUnderTestRuns(std::string* why);

// What names the machine in the server's answers and files, written out
// for each machine.
struct MachineTexts
{
    const char* platform;        // "x64"
    const char* platformLine;    // the VST 2 report's line that names it, as a host reads it
    const char* banner;          // the server's first line
    const wchar_t* dumpBaseName; // a crash dump's file name up to the dash before its time
    size_t pointerDigits;        // hexadecimal digits of a pointer printed with %p
    WORD imageMachine;           // the server's PE machine field
    const wchar_t* vst3Folder;   // the binary's folder in a VST3 bundle's Contents
};
const MachineTexts& TextsOf(Machine machine);
// TextsOf(MachineUnderTest()).
const MachineTexts& ServerTexts();
// ServerTexts().platformLine: ">:  \"platform\":  \"x64\",\n".
std::string PlatformLine();

} // namespace testsupport
