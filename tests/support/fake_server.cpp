// A stand-in for the scan server that speaks the same pipes and command
// line but answers out of step on purpose, chosen by the request's text:
//   a request holding "malformed"  a report block with a text left open
//   a request holding "noblock"    no report block at all before "ready:"
//   a request holding "diemid"     half a report block, then exit code 3
//   a request holding "stubborn"   a good report, but it then ignores the
//                                  end of its input and never ends
//   anything else                  a well-formed report of "Fake Plugin"
// Closing the request pipe ends it with exit code 0. With the environment
// variable FAKE_SERVER_EXIT set it ends at once with that code, before its
// banner.
//
// With FAKE_SERVER_SCRIPT naming a file, it plays the answers written there
// instead, for exchanges the real server gives only with plugins that do
// not exist yet. The script's lines:
//   = REQUEST        the answer to the request line REQUEST follows. The
//                    n-th "= REQUEST" answers the n-th time REQUEST is
//                    asked by any server playing the script, the last one
//                    every later time: each request is appended to
//                    SCRIPT.log as it arrives, which also tells a test what
//                    reached a server.
//   !exit N          ends the server with exit code N
//   !hang            waits for ever
//   !sleep MS        waits MS milliseconds
//   !messagebox T|M  shows a message box titled T saying M until it closes
//   !call PATH       loads the DLL at PATH and calls its VSTPluginMain (a
//                    fixture that crashes there, or leaves a thread behind
//                    that crashes later). A crash writes a minidump into the
//                    dump folder and ends the server with exit code 9, as
//                    the real server does.
//   # TEXT           a comment
//   anything else    an answer line, written with a line feed and flushed
//                    on its own
// After each answer comes "ready:". A request the script does not answer
// ends the server with exit code 3.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <dbghelp.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

HANDLE Output;
std::wstring DumpFolder;

void Put(const char* line)
{
    DWORD written = 0;
    WriteFile(Output, line, (DWORD)strlen(line), &written, nullptr);
    FlushFileBuffers(Output);
}

const char* const GoodBlock[] = {
    ">:{\n",
    ">:  \"id\":        \"46414B45\",\n",
    ">:  \"name\":      \"Fake Plugin\",\n",
    ">:  \"vendor\":    \"\",\n",
    ">:  \"product\":   \"\",\n",
    ">:  \"version\":   \"\",\n",
    ">:  \"error\":     \"\",\n",
    ">:  \"numInputs\": 0,\n",
    ">:  \"numOutputs\":2,\n",
    ">:  \"wantsMidi\":  false,\n",
    ">:  \"sendsMidi\": false,\n",
    ">:  \"platform\":  \"x64\",\n",
    ">:  \"audio64\":   false,\n",
    ">:  \"category\":  1,\n",
    ">:  \"synthEdit\": false,\n",
    ">:}\n",
};

std::wstring Wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], n);
    return wide;
}

std::string ReadAll(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size())
    {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// A crash anywhere: the dump, then exit code 9.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception)
{
    typedef BOOL(WINAPI * WriteDumpProc)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                         PMINIDUMP_EXCEPTION_INFORMATION,
                                         PMINIDUMP_USER_STREAM_INFORMATION,
                                         PMINIDUMP_CALLBACK_INFORMATION);
    HMODULE dbghelp = LoadLibraryW(L"DbgHelp.dll");
    WriteDumpProc writeDump =
        dbghelp ? (WriteDumpProc)(void*)GetProcAddress(dbghelp, "MiniDumpWriteDump") : nullptr;
    if (writeDump && !DumpFolder.empty())
    {
        wchar_t name[64];
        swprintf(name, 64, L"\\FakeServer-%lu.mdmp", GetCurrentProcessId());
        HANDLE file = CreateFileW((DumpFolder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            MINIDUMP_EXCEPTION_INFORMATION info = {GetCurrentThreadId(), exception, FALSE};
            writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &info, nullptr,
                      nullptr);
            CloseHandle(file);
        }
    }
    TerminateProcess(GetCurrentProcess(), 9);
    return EXCEPTION_EXECUTE_HANDLER;
}

intptr_t SilentHost(void*, int32_t, int32_t, intptr_t, void*, float)
{
    return 0;
}

// The scripted answers, by request, in the order they are given.
struct Script
{
    std::wstring log;
    std::vector<std::pair<std::string, std::vector<std::string>>> answers;

    bool Load(const std::wstring& path)
    {
        std::string text = ReadAll(path);
        if (text.empty())
            return false;
        log = path + L".log";
        for (const std::string& line : Lines(text))
        {
            if (line.compare(0, 2, "= ") == 0)
                answers.push_back({line.substr(2), {}});
            else if (!line.empty() && line[0] != '#' && !answers.empty())
                answers.back().second.push_back(line);
        }
        return true;
    }

    // Logs the request; its answer for this time, or null.
    const std::vector<std::string>* Answer(const std::string& request)
    {
        int asked = 0;
        for (const std::string& line : Lines(ReadAll(log)))
            asked += line == request;
        HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            std::string line = request + "\n";
            DWORD written = 0;
            WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
            CloseHandle(file);
        }
        const std::vector<std::string>* found = nullptr;
        int seen = 0;
        for (const auto& answer : answers)
        {
            if (answer.first != request)
                continue;
            found = &answer.second;
            if (seen++ == asked)
                break;
        }
        return found;
    }
};

void Play(const std::vector<std::string>& answer)
{
    for (const std::string& line : answer)
    {
        if (line.compare(0, 6, "!exit ") == 0)
            ExitProcess((UINT)strtoul(line.c_str() + 6, nullptr, 10));
        else if (line == "!hang")
            Sleep(INFINITE);
        else if (line.compare(0, 7, "!sleep ") == 0)
            Sleep((DWORD)strtoul(line.c_str() + 7, nullptr, 10));
        else if (line.compare(0, 12, "!messagebox ") == 0)
        {
            std::string both = line.substr(12);
            size_t bar = both.find('|');
            std::wstring title = Wide(both.substr(0, bar));
            std::wstring text = Wide(bar == std::string::npos ? "" : both.substr(bar + 1));
            MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK);
        }
        else if (line.compare(0, 6, "!call ") == 0)
        {
            HMODULE module = LoadLibraryW(Wide(line.substr(6)).c_str());
            typedef void* (*EntryProc)(decltype(&SilentHost));
            EntryProc entry = module ? (EntryProc)(void*)GetProcAddress(module, "VSTPluginMain") : nullptr;
            if (entry)
                entry(SilentHost);
        }
        else
            Put((line + "\n").c_str());
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3)
        return 2;
    HANDLE input = (HANDLE)(uintptr_t)wcstoull(argv[1], nullptr, 16);
    Output = (HANDLE)(uintptr_t)wcstoull(argv[2], nullptr, 16);
    if (argc >= 5)
        DumpFolder = argv[4];
    wchar_t code[16];
    if (GetEnvironmentVariableW(L"FAKE_SERVER_EXIT", code, 16) > 0)
        return (int)wcstoul(code, nullptr, 10);
    Script script;
    wchar_t scriptPath[MAX_PATH * 2];
    DWORD scriptLength = GetEnvironmentVariableW(L"FAKE_SERVER_SCRIPT", scriptPath, MAX_PATH * 2);
    bool scripted = scriptLength > 0 && scriptLength < MAX_PATH * 2 && script.Load(scriptPath);
    if (scripted)
        SetUnhandledExceptionFilter(CrashFilter);
    bool stubborn = false;
    Put("info:Fake Scan Server\n");
    std::string pending;
    for (;;)
    {
        Put("ready:\n");
        size_t lineEnd;
        while ((lineEnd = pending.find('\n')) == std::string::npos)
        {
            char chunk[1024];
            DWORD got = 0;
            if (!ReadFile(input, chunk, sizeof chunk, &got, nullptr) || got == 0)
            {
                if (stubborn)
                    Sleep(INFINITE);
                return 0;
            }
            pending.append(chunk, got);
        }
        std::string request = pending.substr(0, lineEnd);
        pending.erase(0, lineEnd + 1);
        if (scripted)
        {
            const std::vector<std::string>* answer = script.Answer(request);
            if (!answer)
                return 3;
            Play(*answer);
            continue;
        }
        Put(("info:Scanning plugin: '" + request + "'\n").c_str());
        if (request.find("malformed") != std::string::npos)
        {
            Put(">:{\n");
            Put(">:  \"id\":        \"46414B45\",\n");
            Put(">:  \"name\":      \"Fake Plugin,\n");
            Put(">:}\n");
        }
        else if (request.find("noblock") != std::string::npos)
            Put("info:Finished\n");
        else if (request.find("diemid") != std::string::npos)
        {
            Put(">:{\n");
            Put(">:  \"id\":        \"46414B45\",\n");
            Put(">:  \"name\":      \"Fake");
            ExitProcess(3);
        }
        else
        {
            stubborn = stubborn || request.find("stubborn") != std::string::npos;
            for (const char* line : GoodBlock)
                Put(line);
        }
    }
}
