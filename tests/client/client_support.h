// Shared pieces of the client library tests: where the built server, the
// fixture plugins and the samples are, a scratch folder per test for plugin
// copies and dumps, and a server configuration pointing into it.
#pragma once
#include "orvanta_scan.h"
#include <string>

namespace clienttest {

// Files beside the test program (bin/).
std::wstring BinPath(const std::wstring& name);
std::wstring FixturePath(const std::wstring& name); // bin/plugins/NAME.dll
std::wstring SamplePath(const std::wstring& name);  // bin/samples/NAME.dll

// A fresh folder under the temporary folder, removed with everything in it
// when the test ends.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& Path() const { return m_path; } // no trailing backslash
    // Copies a file in under a new name; the new full path.
    std::wstring Copy(const std::wstring& from, const std::wstring& name) const;
    // Writes a file (bytes as given); its full path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const;
    std::string Read(const std::wstring& name) const;
    std::wstring Dumps() const { return m_path + L"\\dumps"; }

private:
    std::wstring m_path;
};

// The real server, dumps into the scratch folder, the given time limit.
orvanta::ServerConfig RealServer(const ScratchFolder& scratch, uint32_t timeoutMs = 60000);
// The stand-in server of tests/support/fake_server.cpp.
orvanta::ServerConfig FakeServer(const ScratchFolder& scratch, uint32_t timeoutMs = 60000);

// Running processes started by this one with that file name.
int ChildProcesses(const std::wstring& exeName);

// Whether windows can show (./run started an X display).
bool HaveDisplay();

std::string Utf8(const std::wstring& text);
// How many of the lines equal the given one.
int CountLines(const std::vector<std::string>& lines, const std::string& line);

} // namespace clienttest
