#include "machines.h"
#include "build_paths.h"
#include "processes.h"
#include "text.h"

namespace testsupport {

namespace {

// bin\x86\, seen from a 64-bit program in bin\ or a 32-bit one in bin\x86\.
std::wstring X86Folder()
{
    return sizeof(void*) == 4 ? BinPath(L"") : BinPath(L"x86\\");
}

std::string SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, (wchar_t*)&text, 0, nullptr);
    std::wstring message = text ? text : L"";
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return Utf8(message);
}

struct ProbeAnswer
{
    bool runs = false;
    std::string why;
};

// The probe program exits with the size of its pointers.
ProbeAnswer ProbeX86()
{
    ProbeAnswer answer;
    std::wstring probe = X86Folder() + L"machine_probe.exe";
    if (GetFileAttributesW(probe.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        answer.why = "no 32-bit build here: " + Utf8(probe) + " is missing";
        return answer;
    }
    CapturedProcess process;
    if (!process.Start(probe, {}))
    {
        DWORD error = GetLastError();
        answer.why = "32-bit programs do not start here: " + Utf8(probe) + " gave error " +
                     std::to_string(error) + " (" + SystemMessage(error) + ")";
        return answer;
    }
    DWORD code = process.Wait(60000);
    if (code != 4)
    {
        answer.why = "32-bit programs do not run here: " + Utf8(probe) + " ended with exit code " +
                     std::to_string(code) + " (expected 4)";
        std::string err = process.Err();
        if (!err.empty())
            answer.why += "; it wrote: " + err.substr(0, 200);
        return answer;
    }
    answer.runs = true;
    return answer;
}

const MachineTexts X64Texts = {
    "x64",
    ">:  \"platform\":  \"x64\",\n",
    "info:Orvanta Plugin Scan Server (x64)\n",
    L"ZiveRivedo-x64",
    16,
    IMAGE_FILE_MACHINE_AMD64,
    L"x86_64-win",
};

const MachineTexts X86Texts = {
    "x86",
    ">:  \"platform\":  \"x86\",\n",
    "info:Orvanta Plugin Scan Server (x86)\n",
    L"ZiveRivedo-x86",
    8,
    IMAGE_FILE_MACHINE_I386,
    L"x86-win",
};

} // namespace

std::wstring X86ServerPath()
{
    return sizeof(void*) == 4 ? BinPath(L"..\\scanserver32.exe") : BinPath(L"scanserver32.exe");
}

std::wstring X86FixturePath(const std::wstring& name)
{
    return X86Folder() + L"plugins\\" + name + L".dll";
}

std::wstring X86SamplePath(const std::wstring& name)
{
    return X86Folder() + L"samples\\" + name + L".dll";
}

std::wstring X86BinPath(const std::wstring& name)
{
    return X86Folder() + name;
}

bool X86ProgramsRun(std::string* why)
{
    static const ProbeAnswer answer = ProbeX86();
    if (why)
        *why = answer.why;
    return answer.runs;
}

Machine MachineUnderTest()
{
    if (sizeof(void*) == 4)
        return Machine::X86;
    wchar_t value[16] = {};
    DWORD n = GetEnvironmentVariableW(L"ORVANTA_TEST_MACHINE", value, 16);
    return n > 0 && n < 16 && lstrcmpiW(value, L"x86") == 0 ? Machine::X86 : Machine::X64;
}

bool MachineUnderTestRuns(std::string* why)
{
    if (MachineUnderTest() == Machine::X64)
    {
        if (why)
            why->clear();
        return true;
    }
    return X86ProgramsRun(why);
}

const MachineTexts& TextsOf(Machine machine)
{
    return machine == Machine::X86 ? X86Texts : X64Texts;
}

const MachineTexts& ServerTexts()
{
    return TextsOf(MachineUnderTest());
}

std::string PlatformLine()
{
    return ServerTexts().platformLine;
}

} // namespace testsupport
