// Plays the host: starts the scan server with pipes, sends one request line
// per argument and prints every byte the server answers, then closes the
// request pipe and prints the exit code.
//   scanhost [--dumps FOLDER] REQUEST...
#include "pipe_host.h"
#include "text.h"
#include <stdio.h>
#include <shellapi.h>

using testsupport::ServerOptions;
using testsupport::ServerProcess;
using testsupport::Utf8;

static void Print(const std::string& bytes)
{
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ServerOptions options;
    int first = 1;
    if (argc > 2 && lstrcmpW(argv[1], L"--dumps") == 0)
    {
        options.passDumpFolder = true;
        options.dumpFolder = argv[2];
        first = 3;
    }
    ServerProcess server;
    if (!server.Start(options))
    {
        fprintf(stderr, "scanhost: cannot start the server (error %lu)\n", GetLastError());
        return 2;
    }
    Print(server.ReadUntilReady());
    for (int i = first; i < argc; i++)
    {
        std::string line = Utf8(argv[i]);
        printf("--- request: %s\n", line.c_str());
        Print(server.Request(line));
    }
    printf("--- closing the request pipe\n");
    server.CloseInput();
    Print(server.ReadToEnd());
    printf("--- exit code %lu\n", server.WaitExit());
    return 0;
}
