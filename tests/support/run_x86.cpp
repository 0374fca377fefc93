// run_x86 PROGRAM [ARGS...]: runs a 32-bit test program (the x86 unit
// tests) with its standard output and error, and ends with its exit code.
// Where 32-bit programs do not run here it prints "run_x86: skipped, " and
// why instead and ends with 0; CTest counts that line a skip.
#include "machines.h"
#include "processes.h"
#include <shellapi.h>
#include <stdio.h>
#include <string>

using namespace testsupport;

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2)
    {
        fprintf(stderr, "usage: run_x86 PROGRAM [ARGS...]\n");
        return 2;
    }
    std::string why;
    if (!X86ProgramsRun(&why))
    {
        printf("run_x86: skipped, %s\n", why.c_str());
        return 0;
    }
    std::wstring line;
    for (int i = 1; i < argc; i++)
        line += (i > 1 ? L" " : L"") + QuoteArgument(argv[i]);

    // Its own inheritable copies of this program's output and error.
    HANDLE self = GetCurrentProcess();
    HANDLE out = nullptr, err = nullptr;
    DuplicateHandle(self, GetStdHandle(STD_OUTPUT_HANDLE), self, &out, 0, TRUE, DUPLICATE_SAME_ACCESS);
    DuplicateHandle(self, GetStdHandle(STD_ERROR_HANDLE), self, &err, 0, TRUE, DUPLICATE_SAME_ACCESS);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::vector<HANDLE> inherited;
    for (HANDLE handle : {out, err})
        if (handle)
            inherited.push_back(handle);
    ProcessTree program;
    if (!program.Start(argv[1], line, 0, startup, inherited))
    {
        fprintf(stderr, "run_x86: cannot start the program (error %lu)\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(program.Process(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(program.Process(), &code);
    return (int)code;
}
