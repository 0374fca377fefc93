#include "scan_support.h"
#include <stdio.h>
#include <algorithm>

const std::string Banner = "info:Orvanta Plugin Scan Server (x64)\n";
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

std::wstring WithSeparator(const std::wstring& folder)
{
    return !folder.empty() && folder.back() == L'\\' ? folder : folder + L"\\";
}

bool IsDots(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

} // namespace

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
    char chunk[16384];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((WithSeparator(folder) + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        if (!IsDots(data.cFileName))
            names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::wstring& folder)
{
    std::wstring base = WithSeparator(folder);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((base + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            if (IsDots(data.cFileName))
                continue;
            std::wstring path = base + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

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

TempFolder::~TempFolder()
{
    if (!m_path.empty())
        RemoveTree(m_path);
}

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
        if (line.compare(0, prefix.size(), prefix) == 0 && line.size() == prefix.size() + 17 &&
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

std::string Utf8(const std::wstring& text)
{
    return WideToUtf8(text);
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

std::string ScanTest::PlainAnswer(const std::wstring& dllPath, const std::string& block)
{
    return LoadLines(Utf8(dllPath)) + EntryLines(Handle(dllPath)) + CloseAndFreeLines() + block + Ready;
}

std::string ScanTest::PlainAnswerAfterFlush(const std::wstring& dllPath, const std::string& block)
{
    return Info("Scanning plugin: '" + Utf8(dllPath) + "'") + CachedFlush +
           Info("Loading library...") + EntryLines(Handle(dllPath)) + CloseAndFreeLines() + block + Ready;
}
