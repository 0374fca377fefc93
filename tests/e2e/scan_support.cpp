#include "scan_support.h"
#include <stdio.h>

const std::string Ready = "ready:\n";
const std::string CachedFlush = Info("Freeing cached library...") + Info("Freed");

namespace {

const std::string Banner = "info:Orvanta Plugin Scan Server (x64)\n";

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

std::wstring WithoutExtension(const std::wstring& path)
{
    size_t dot = path.find_last_of(L'.');
    size_t slash = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return path;
    return path.substr(0, dot);
}

std::string Flag(bool value)
{
    return value ? "true" : "false";
}

} // namespace

TempFolder::TempFolder() {}

bool TempFolder::Create(const std::wstring& name)
{
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        return false;
    m_path = std::wstring(temp, n) + name + L"\\";
    return CreateDirectoryW(m_path.c_str(), nullptr) != 0;
}

static void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + name + L"\\");
            else
                DeleteFileW((folder + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

TempFolder::~TempFolder()
{
    if (!m_path.empty())
        RemoveTree(m_path);
}

std::string JsonEscape(const std::string& bytes)
{
    std::string out;
    for (unsigned char unit : bytes)
    {
        switch (unit)
        {
        case 0x22: out += "\\\""; break;
        case 0x5C: out += "\\\\"; break;
        case 0x2F: out += "\\/"; break;
        case 0x08: out += "\\b"; break;
        case 0x0C: out += "\\f"; break;
        case 0x0A: out += "\\n"; break;
        case 0x0D: out += "\\r"; break;
        case 0x09: out += "\\t"; break;
        default:
            if (unit >= 0x20 && unit <= 0x7E)
                out += (char)unit;
            else
            {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%.4x", unit);
                out += escape;
            }
        }
    }
    return out;
}

std::string MaskModuleHandles(const std::string& answer)
{
    const std::string prefix = "info:Looking for entry point in module ";
    std::string out = answer;
    size_t at = 0;
    while ((at = out.find(prefix, at)) != std::string::npos)
    {
        size_t digits = at + prefix.size();
        bool handle = digits + 17 <= out.size() && out[digits + 16] == '\n';
        for (size_t i = 0; handle && i < 16; i++)
        {
            char c = out[digits + i];
            handle = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        }
        if (handle)
            out.replace(digits, 16, "HANDLE");
        at = digits;
    }
    return out;
}

std::string Hex8(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%.8X", value);
    return text;
}

std::string ReportBlock(const Report& r)
{
    std::string out;
    out += ">:{\n";
    out += ">:  \"id\":        \"" + Hex8(r.id) + "\",\n";
    out += ">:  \"name\":      \"" + JsonEscape(r.name) + "\",\n";
    out += ">:  \"vendor\":    \"" + JsonEscape(r.vendor) + "\",\n";
    out += ">:  \"product\":   \"" + JsonEscape(r.product) + "\",\n";
    out += ">:  \"version\":   \"" + JsonEscape(r.version) + "\",\n";
    out += ">:  \"error\":     \"" + JsonEscape(r.error) + "\",\n";
    out += ">:  \"numInputs\": " + std::to_string(r.numInputs) + ",\n";
    out += ">:  \"numOutputs\":" + std::to_string(r.numOutputs) + ",\n";
    out += ">:  \"wantsMidi\":  " + Flag(r.wantsMidi) + ",\n";
    out += ">:  \"sendsMidi\": " + Flag(r.sendsMidi) + ",\n";
    out += ">:  \"platform\":  \"x64\",\n";
    out += ">:  \"audio64\":   " + Flag(r.audio64) + ",\n";
    out += ">:  \"category\":  " + std::to_string(r.category) + ",\n";
    out += ">:  \"synthEdit\": " + Flag(r.synthEdit) + ",\n";
    if (r.category == 10)
    {
        out += ">:  \"shells\": {\n";
        for (const auto& shell : r.shells)
            out += ">:        \"" + Hex8(shell.first) + "\": \"" + JsonEscape(shell.second) + "\",\n";
        out += ">:  },\n";
    }
    out += ">:}\n";
    return out;
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

std::string Utf8(const std::wstring& text)
{
    return WideToUtf8(text);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

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
            handles.push_back(events.substr(at + 7, 16));
        at += 7;
    }
    return handles;
}

void ScanTest::SetUp()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = L"scan-" + Utf8ToWide(test->test_suite_name()) + L"-" +
                        Utf8ToWide(test->name()) + L"-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(folder.Create(name));
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
    std::wstring wideName = Utf8ToWide(name);
    std::wstring path = folder.Path() + wideName + L".dll";
    std::wstring source = ExeFolder() + L"plugins\\" + variant + L".dll";
    EXPECT_TRUE(CopyFileW(source.c_str(), path.c_str(), FALSE)) << Utf8(source);
    EXPECT_TRUE(WriteWholeFile(folder.Path() + wideName + L".cfg", config));
    return path;
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

std::string ScanTest::PlainAnswer(const std::wstring& dllPath, const Report& report)
{
    return LoadLines(Utf8(dllPath)) + EntryLines(Handle(dllPath)) + CloseAndFreeLines() +
           ReportBlock(report) + Ready;
}

std::string ScanTest::PlainAnswerAfterFlush(const std::wstring& dllPath, const Report& report)
{
    return Info("Scanning plugin: '" + Utf8(dllPath) + "'") + CachedFlush +
           Info("Loading library...") + EntryLines(Handle(dllPath)) + CloseAndFreeLines() +
           ReportBlock(report) + Ready;
}
