// A stand-in for the scan server that speaks the same pipes and command
// line but answers out of step on purpose, chosen by the request's text:
//   a request holding "malformed"  a report block with a text left open
//   a request holding "noblock"    no report block at all before "ready:"
//   a request holding "diemid"     half a report block, then exit code 3
//   anything else                  a well-formed report of "Fake Plugin"
// Closing the request pipe ends it with exit code 0.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

HANDLE Output;

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

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3)
        return 2;
    HANDLE input = (HANDLE)(uintptr_t)wcstoull(argv[1], nullptr, 16);
    Output = (HANDLE)(uintptr_t)wcstoull(argv[2], nullptr, 16);
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
                return 0;
            pending.append(chunk, got);
        }
        std::string request = pending.substr(0, lineEnd);
        pending.erase(0, lineEnd + 1);
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
            for (const char* line : GoodBlock)
                Put(line);
        }
    }
}
