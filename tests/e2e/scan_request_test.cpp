// Request lines and the library cache: how the sub-plugin ID is read from
// a request, when a module is loaded, re-used, flushed and freed, and that
// every load is matched by one free (the plugin records its own attach and
// detach, and tells a free from the process end).
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanRequest : public ScanTest
{
};


// The plugin asks for the current ID in its entry point and shows the answer.
TEST_F(ScanRequest, SubPluginIdIsReadFromTheRequest)
{
    std::wstring dll = Plugin("Ask", "name=Id\ncall=2\ncategory=1\n");
    std::string path = Utf8(dll);
    struct Case
    {
        std::string suffix;
        std::string currentId;
    } cases[] = {
        {"", "0"},
        {">1A2b", "6699"},
        {">", "0"},
        {">zz", "0"},
        {">123456789", "591751049"},
        {">12 34", "18"},
        {">12>34", "18"},
        {">12\r", "18"},
        {">FFFFFFFF", "-1"},
        {">80000000", "-2147483648"},
        // Back to 0 once a request carries no ID.
        {"", "0"},
    };
    size_t loads = 0;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.suffix);
        std::string answer = Scan(path + c.suffix);
        loads++;
        std::vector<std::string> handles = AttachHandles(dll);
        ASSERT_EQ(handles.size(), loads);
        EXPECT_EQ(answer, LoadLines(path + c.suffix) + EntryLines(handles.back()) +
                              CallbackLine(2, "audioMasterCurrentId") + CloseAndFreeLines() +
                              ">:{\n"
                              ">:  \"id\":        \"00000000\",\n"
                              ">:  \"name\":      \"Id 2=" + c.currentId + "\",\n"
                              ">:  \"vendor\":    \"\",\n"
                              ">:  \"product\":   \"\",\n"
                              ">:  \"version\":   \"\",\n"
                              ">:  \"error\":     \"\",\n"
                              ">:  \"numInputs\": 0,\n"
                              ">:  \"numOutputs\":0,\n"
                              ">:  \"wantsMidi\":  false,\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n" + Ready);
    }
}

TEST_F(ScanRequest, PluginThatListsNoShellsIsLoadedAndFreedEachTime)
{
    std::wstring dll = Plugin("Twice", "name=T\ncategory=1\n");
    std::string first = Scan(dll);
    std::string second = Scan(dll);
    std::vector<std::string> handles = AttachHandles(dll);
    ASSERT_EQ(handles.size(), 2u);
    std::string load = LoadLines(Utf8(dll));
    const std::string block =
        ">:{\n"
        ">:  \"id\":        \"00000000\",\n"
        ">:  \"name\":      \"T\",\n"
        ">:  \"vendor\":    \"\",\n"
        ">:  \"product\":   \"\",\n"
        ">:  \"version\":   \"\",\n"
        ">:  \"error\":     \"\",\n"
        ">:  \"numInputs\": 0,\n"
        ">:  \"numOutputs\":0,\n"
        ">:  \"wantsMidi\":  false,\n"
        ">:  \"sendsMidi\": false,\n"
        + PlatformLine() +
        ">:  \"audio64\":   false,\n"
        ">:  \"category\":  1,\n"
        ">:  \"synthEdit\": false,\n"
        ">:}\n";
    EXPECT_EQ(first, load + EntryLines(handles[0]) + CloseAndFreeLines() + block + Ready);
    EXPECT_EQ(second, load + EntryLines(handles[1]) + CloseAndFreeLines() + block + Ready);
    std::string events = Events(dll);
    EXPECT_EQ(events.find("detach exit"), std::string::npos);
    size_t detaches = 0;
    for (size_t at = events.find("\ndetach\n"); at != std::string::npos; at = events.find("\ndetach\n", at + 1))
        detaches++;
    EXPECT_EQ(detaches, 2u) << events;
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

TEST_F(ScanRequest, CachedShellIsReusedThenFlushedByAnotherPath)
{
    std::wstring shell = Plugin("Shell", "name=S\ncategory=10\nshell=0x10 Ten\nshell=0x20 Twenty\n");
    std::wstring other = Plugin("Other", "name=O\ncategory=1\n");
    std::string shellPath = Utf8(shell);
    const std::string shellBlock =
        ">:{\n"
        ">:  \"id\":        \"00000000\",\n"
        ">:  \"name\":      \"S\",\n"
        ">:  \"vendor\":    \"\",\n"
        ">:  \"product\":   \"\",\n"
        ">:  \"version\":   \"\",\n"
        ">:  \"error\":     \"\",\n"
        ">:  \"numInputs\": 0,\n"
        ">:  \"numOutputs\":0,\n"
        ">:  \"wantsMidi\":  false,\n"
        ">:  \"sendsMidi\": false,\n"
        + PlatformLine() +
        ">:  \"audio64\":   false,\n"
        ">:  \"category\":  10,\n"
        ">:  \"synthEdit\": false,\n"
        ">:  \"shells\": {\n"
        ">:        \"00000010\": \"Ten\",\n"
        ">:        \"00000020\": \"Twenty\",\n"
        ">:  },\n"
        ">:}\n";
    const std::string found = Info("Found shell: 00000010 - Ten") + Info("Found shell: 00000020 - Twenty");

    std::string first = Scan(shell);
    std::string handle = Handle(shell);
    EXPECT_EQ(first, LoadLines(shellPath) + EntryLines(handle) + found + CloseAndKeepLines() +
                         shellBlock + Ready);

    // The same path, with an ID: the module is taken from the cache and kept
    // even though this plugin (not a shell builder) lists the same shells.
    std::string second = Scan(shellPath + ">10");
    EXPECT_EQ(second, ReuseLines(shellPath + ">10") + EntryLines(handle) + found + CloseAndKeepLines() +
                          shellBlock + Ready);
    std::string events = Events(shell);
    EXPECT_EQ(AttachHandles(shell).size(), 1u);
    EXPECT_EQ(events.find("detach"), std::string::npos) << events;

    // Another path: the cached module goes first, then the new one loads.
    std::string third = Scan(other);
    EXPECT_EQ(third, PlainAnswerAfterFlush(other, ">:{\n"
                                                  ">:  \"id\":        \"00000000\",\n"
                                                  ">:  \"name\":      \"O\",\n"
                                                  ">:  \"vendor\":    \"\",\n"
                                                  ">:  \"product\":   \"\",\n"
                                                  ">:  \"version\":   \"\",\n"
                                                  ">:  \"error\":     \"\",\n"
                                                  ">:  \"numInputs\": 0,\n"
                                                  ">:  \"numOutputs\":0,\n"
                                                  ">:  \"wantsMidi\":  false,\n"
                                                  ">:  \"sendsMidi\": false,\n"
                                                  + PlatformLine() +
                                                  ">:  \"audio64\":   false,\n"
                                                  ">:  \"category\":  1,\n"
                                                  ">:  \"synthEdit\": false,\n"
                                                  ">:}\n"));
    EXPECT_TRUE(EndsWith(Events(shell), "disp 1\ndetach\n")) << Events(shell);

    // Nothing is cached any more: the end is quiet.
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

TEST_F(ScanRequest, CachedModuleIsKeptWhenItsProbeFails)
{
    std::wstring shell = Plugin("Picky", "name=S\ncategory=10\nshell=0x10 Ten\n");
    std::string path = Utf8(shell);
    std::string first = Scan(shell);
    std::string handle = Handle(shell);
    ASSERT_NE(first.find(CloseAndKeepLines()), std::string::npos) << first;

    // The next entry point call returns NULL: the cache stays as it is.
    std::wstring cfg = folder / L"Picky.cfg";
    HANDLE file = CreateFileW(cfg.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const char text[] = "entry=null\n";
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);

    std::string second = Scan(path + ">10");
    EXPECT_EQ(second, ReuseLines(path + ">10") + EntryLines(handle) + KeepLines() +
                          "error:Entry point returned NULL\n"
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"Entry point returned NULL\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  -1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n" +
                          Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), CachedFlush);
    EXPECT_EQ(server.WaitExit(), 0u);
    EXPECT_EQ(AttachHandles(shell).size(), 1u);
    EXPECT_TRUE(EndsWith(Events(shell), "entry\ndetach\n")) << Events(shell);
}

TEST_F(ScanRequest, SamePathInAnotherLetterCaseIsAnotherPath)
{
    std::wstring shell = Plugin("CaseShell", "category=10\nshell=1 One\n");
    std::string path = Utf8(shell);
    std::string lower = path;
    for (char& c : lower)
        c = (char)tolower((unsigned char)c);
    ASSERT_NE(lower, path);
    const std::string block =
        ">:{\n"
        ">:  \"id\":        \"00000000\",\n"
        ">:  \"name\":      \"\",\n"
        ">:  \"vendor\":    \"\",\n"
        ">:  \"product\":   \"\",\n"
        ">:  \"version\":   \"\",\n"
        ">:  \"error\":     \"\",\n"
        ">:  \"numInputs\": 0,\n"
        ">:  \"numOutputs\":0,\n"
        ">:  \"wantsMidi\":  false,\n"
        ">:  \"sendsMidi\": false,\n"
        + PlatformLine() +
        ">:  \"audio64\":   false,\n"
        ">:  \"category\":  10,\n"
        ">:  \"synthEdit\": false,\n"
        ">:  \"shells\": {\n"
        ">:        \"00000001\": \"One\",\n"
        ">:  },\n"
        ">:}\n";
    const std::string found = Info("Found shell: 00000001 - One");

    std::string first = Scan(path);
    std::string second = Scan(lower);
    std::vector<std::string> handles = AttachHandles(shell);
    ASSERT_EQ(handles.size(), 2u) << Events(shell);
    EXPECT_EQ(first, LoadLines(path) + EntryLines(handles[0]) + found + CloseAndKeepLines() + block + Ready);
    EXPECT_EQ(second, Info("Scanning plugin: '" + lower + "'") + CachedFlush + Info("Loading library...") +
                          EntryLines(handles[1]) + found + CloseAndKeepLines() + block + Ready);
    // The first load was freed before the second one.
    std::string events = Events(shell);
    size_t firstDetach = events.find("\ndetach\n");
    size_t secondAttach = events.find("\nattach ");
    EXPECT_LT(firstDetach, secondAttach) << events;

    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), CachedFlush);
    EXPECT_EQ(server.WaitExit(), 0u);
    EXPECT_TRUE(EndsWith(Events(shell), "disp 1\ndetach\n")) << Events(shell);
}

// Paths are compared unit by unit: two names that a linguistic comparison
// would call equal (a soft hyphen, a combining accent) are other files.
TEST_F(ScanRequest, PathsAreComparedUnitByUnit)
{
    struct Case
    {
        const char* label;
        std::string cachedName;
        std::string otherName;
    } cases[] = {
        {"soft hyphen", "Shell", "Sh\xc2\xad" "ell"},
        {"combining accent", "Caf\xc3\xa9", "Cafe\xcc\x81"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring shell = Plugin(c.cachedName, "name=S\ncategory=10\nshell=1 One\n");
        std::wstring other = Plugin(c.otherName, "name=Other\ncategory=1\n");
        ASSERT_NE(shell, other);
        std::string first = Scan(shell);
        ASSERT_NE(first.find(CloseAndKeepLines()), std::string::npos) << first;

        std::string second = Scan(other);
        EXPECT_EQ(second, PlainAnswerAfterFlush(other, ">:{\n"
                                                       ">:  \"id\":        \"00000000\",\n"
                                                       ">:  \"name\":      \"Other\",\n"
                                                       ">:  \"vendor\":    \"\",\n"
                                                       ">:  \"product\":   \"\",\n"
                                                       ">:  \"version\":   \"\",\n"
                                                       ">:  \"error\":     \"\",\n"
                                                       ">:  \"numInputs\": 0,\n"
                                                       ">:  \"numOutputs\":0,\n"
                                                       ">:  \"wantsMidi\":  false,\n"
                                                       ">:  \"sendsMidi\": false,\n"
                                                       + PlatformLine() +
                                                       ">:  \"audio64\":   false,\n"
                                                       ">:  \"category\":  1,\n"
                                                       ">:  \"synthEdit\": false,\n"
                                                       ">:}\n"));
    }
}

TEST_F(ScanRequest, LoadFailureEmptiesTheCache)
{
    std::wstring shell = Plugin("Cached", "category=10\nshell=1 One\n");
    std::string first = Scan(shell);
    ASSERT_NE(first.find(CloseAndKeepLines()), std::string::npos) << first;

    std::string missing = Utf8(folder / L"Gone.dll");
    std::string second = Scan(missing);
    EXPECT_EQ(second, Info("Scanning plugin: '" + missing + "'") + CachedFlush + Info("Loading library...") +
                          "error:Failed to load library, err=126\n"
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"Failed to load library, err=126\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  -1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n" +
                          Ready);
    EXPECT_TRUE(EndsWith(Events(shell), "\ndetach\n")) << Events(shell);

    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
