#include "scan_support.h"
#include <stdio.h>

using namespace testsupport;

const std::string Banner = ServerTexts().banner;
const std::string Ready = "ready:\n";
const std::string CachedFlush = "info:Freeing cached library...\ninfo:Freed\n";
const std::string ModulePlaceholder = "<module>";

namespace {

std::wstring WithoutExtension(const std::wstring& path)
{
    size_t dot = path.find_last_of(L'.');
    size_t slash = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return path;
    return path.substr(0, dot);
}

} // namespace

std::string MaskModuleHandles(const std::string& answer)
{
    const std::string prefix = "info:Looking for entry point in module ";
    std::string out;
    size_t at = 0;
    while (at < answer.size())
    {
        size_t end = answer.find('\n', at);
        end = end == std::string::npos ? answer.size() : end + 1;
        std::string line = answer.substr(at, end - at);
        at = end;
        if (line.compare(0, prefix.size(), prefix) == 0 &&
            line.size() == prefix.size() + ServerTexts().pointerDigits + 1 &&
            line.back() == '\n' &&
            line.find_first_not_of("0123456789ABCDEF", prefix.size()) == line.size() - 1)
            line = prefix + ModulePlaceholder + "\n";
        out += line;
    }
    return out;
}

std::string Hex8(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%.8X", value);
    return text;
}

std::string Info(const std::string& text)
{
    return "info:" + text + "\n";
}

std::string Warn(const std::string& text)
{
    return "warn:" + text + "\n";
}

std::string Error(const std::string& text)
{
    return "error:" + text + "\n";
}

std::string LoadLines(const std::string& request)
{
    return Info("Scanning plugin: '" + request + "'") + Info("Loading library...");
}

std::string ReuseLines(const std::string& request)
{
    return Info("Scanning plugin: '" + request + "'") + Info("Re-using previous library instance...");
}

std::string EntryLines(const std::string& handle, bool viaMain)
{
    return Info("Looking for entry point in module " + handle) +
           Info(viaMain ? "Found main()" : "Found VSTPluginMain()") + Info("Calling entry point...");
}

std::string CallbackLine(int opcode, const std::string& name)
{
    return Info("Audio master callback: " + std::to_string(opcode) + " - " + name);
}

std::string UnhandledLines(int opcode, const std::string& name)
{
    return CallbackLine(opcode, name) + Warn("Unhandled audioMaster opCode - " + std::to_string(opcode));
}

std::string FreeLines()
{
    return Info("Freeing library...") + Info("Finished");
}

std::string KeepLines()
{
    return Info("Keeping shell library loaded for now...") + Info("Finished");
}

std::string CloseAndFreeLines()
{
    return Info("Dispatching effClose...") + FreeLines();
}

std::string CloseAndKeepLines()
{
    return Info("Dispatching effClose...") + KeepLines();
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int CountOf(const std::string& text, const std::string& piece)
{
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        n++;
    return n;
}

std::wstring Vst3Binary(const std::wstring& name)
{
    return FixtureBinPath(L"vst3\\" + name + L".vst3\\Contents\\" + ServerTexts().vst3Folder + L"\\" + name +
                          L".vst3");
}

std::string Vst3Line(const std::wstring& binary, const std::string& cid)
{
    return "vst3|" + Utf8(binary) + (cid.empty() ? "" : ">" + cid);
}

std::string PhaseLines(const std::vector<std::string>& names)
{
    std::string lines;
    for (const std::string& name : names)
        lines += Info("Phase: " + name);
    return lines;
}

std::string Vst3ModuleOpening(const std::string& line)
{
    return Info("Scanning VST3 module: '" + line + "'");
}

std::string Vst3ClassOpening(const std::string& line)
{
    return Info("Scanning VST3 class: '" + line + "'");
}

const std::string Vst3KeepLines = "info:Keeping VST3 library loaded for now...\ninfo:Finished\n";

std::wstring ClapBinary(const std::wstring& name) { return FixtureBinPath(L"clap\\" + name + L".clap"); }

std::string ClapLine(const std::wstring& module, const std::string& id)
{
    return "clap|" + Utf8(module) + (id.empty() ? "" : ">" + id);
}

std::string ClapModuleOpening(const std::string& line) { return Info("Scanning CLAP module: '" + line + "'"); }

std::string ClapPluginOpening(const std::string& line) { return Info("Scanning CLAP plugin: '" + line + "'"); }

const std::string ClapKeepLines = "info:Keeping CLAP library loaded for now...\ninfo:Finished\n";

std::string Events(const std::wstring& dllPath)
{
    return ReadWholeFile(WithoutExtension(dllPath) + L".events");
}

std::vector<std::string> AttachHandles(const std::wstring& dllPath)
{
    std::vector<std::string> handles;
    std::string events = Events(dllPath);
    size_t at = 0;
    while ((at = events.find("attach ", at)) != std::string::npos)
    {
        if (at == 0 || events[at - 1] == '\n')
            handles.push_back(events.substr(at + 7, ServerTexts().pointerDigits));
        at += 7;
    }
    return handles;
}

// The name of the test that is running, as a prefix for its folder.
static std::wstring TestFolderPrefix()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return L"scan-" + Wide(test->test_suite_name()) + L"-" + Wide(test->name());
}

ScanTest::ScanTest() : folder(TestFolderPrefix()) {}

void ScanTest::SetUp()
{
    SKIP_UNLESS_SERVER_RUNS();
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(server.ReadUntilReady(), Banner + Ready);
}

void ScanTest::TearDown()
{
    // A clean end frees whatever the server still holds, so the folder can go.
    server.CloseInput();
    server.WaitExit(20000);
}

std::wstring ScanTest::Plugin(const std::string& name, const std::string& config,
                              const std::wstring& variant)
{
    std::wstring wideName = Wide(name);
    folder.Write(wideName + L".cfg", config);
    return folder.Copy(FixturePath(variant), wideName + L".dll");
}

std::string ScanTest::Scan(const std::wstring& request, DWORD timeoutMs)
{
    return server.Request(Utf8(request), timeoutMs);
}

std::string ScanTest::Scan(const std::string& requestUtf8, DWORD timeoutMs)
{
    return server.Request(requestUtf8, timeoutMs);
}

std::string ScanTest::Handle(const std::wstring& dllPath)
{
    std::vector<std::string> handles = AttachHandles(dllPath);
    return handles.empty() ? std::string("(no attach event)") : handles[0];
}

std::string ScanTest::PlainAnswer(const std::wstring& dllPath, const std::string& block)
{
    return LoadLines(Utf8(dllPath)) + EntryLines(Handle(dllPath)) + CloseAndFreeLines() + block + Ready;
}

std::string ScanTest::PlainAnswerAfterFlush(const std::wstring& dllPath, const std::string& block)
{
    return Info("Scanning plugin: '" + Utf8(dllPath) + "'") + CachedFlush +
           Info("Loading library...") + EntryLines(Handle(dllPath)) + CloseAndFreeLines() + block + Ready;
}
