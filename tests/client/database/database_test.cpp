// The plugin database on its own: the file's shape read back by a standard
// JSON parser, the incremental rules of a run, refusing a file it cannot
// read, and finding the module files of a folder.
#include "../client_support.h"
#include "files.h"
#include "json_file.h"
#include "discovery/module_files.h"
#include <orvanta/database.h>
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>

using namespace orvanta;
using namespace testsupport;
using nlohmann::json;

namespace {

PluginEntry Own(uint32_t id, const std::string& name, int category)
{
    PluginEntry plugin;
    plugin.report.id = id;
    plugin.report.name = name;
    plugin.report.vendor = "Zandrel Software";
    plugin.report.product = "Orvanta Samples";
    plugin.report.version = "1.0.0.0";
    plugin.report.platform = "x64";
    plugin.report.category = category;
    return plugin;
}

ModuleRecord Module(const std::wstring& path, Status status = Status::ok)
{
    ModuleRecord record = clienttest::ScannedRecord(path, status);
    PluginEntry plugin = Own(0x536D4566, "Sample Effect", 1);
    plugin.status = status;
    record.result.plugins.push_back(plugin);
    return record;
}

ModuleFile File(const std::wstring& path, uint64_t size = 4096,
                const std::string& modified = "2026-12-08T13:41:15.250Z")
{
    ModuleFile file;
    file.path = path;
    file.size = size;
    file.modified = modified;
    return file;
}

FoundModules Found(std::vector<ModuleFile> files, std::vector<std::wstring> roots)
{
    FoundModules found;
    found.files = std::move(files);
    found.roots = std::move(roots);
    return found;
}

// A database at folder\plugins.json holding the given records.
void Fill(PluginDatabase& db, const ScratchFolder& folder, const std::vector<ModuleRecord>& records,
          const std::string& server = "")
{
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    db.SetServer(server);
    for (const ModuleRecord& record : records)
        ASSERT_TRUE(db.Record(record, &error)) << error;
}

std::vector<std::string> Paths(const std::vector<ModuleFile>& files)
{
    std::vector<std::string> paths;
    for (const ModuleFile& file : files)
        paths.push_back(Utf8(file.path));
    return paths;
}

std::vector<std::string> Paths(const std::vector<std::wstring>& files)
{
    std::vector<std::string> paths;
    for (const std::wstring& file : files)
        paths.push_back(Utf8(file));
    return paths;
}

} // namespace

TEST(DatabaseShape, ShellModuleIsWrittenWithOneEntryPerSubPlugin)
{
    ScratchFolder folder;
    ModuleRecord record;
    record.size = 123904;
    record.modified = "2026-12-08T13:41:15.250Z";
    record.result.path = L"C:\\Plugins\\Shell.dll";
    record.result.attempts = 1;
    record.result.scanMs = 37;
    record.result.plugins.push_back(Own(0x536D5368, "Sample Shell", 10));
    PluginEntry chorus = Own(0x53480001, "Sample Shell Chorus", 1);
    chorus.shellId = 0x53480001;
    chorus.report.numInputs = 2;
    chorus.report.numOutputs = 2;
    chorus.report.audio64 = true;
    record.result.plugins.push_back(chorus);
    PluginEntry delay;
    delay.shellId = 0x53480002;
    delay.status = Status::crashed;
    delay.attempts = 2;
    delay.error = "access violation";
    delay.report.name = "Sample Shell Delay";
    record.result.plugins.push_back(delay);

    PluginDatabase db;
    Fill(db, folder, {record}, "Orvanta Plugin Scan Server (x64)");

    const std::string expected = R"json({
  "format": 5,
  "server": "Orvanta Plugin Scan Server (x64)",
  "modules": [
    {
      "path": "C:\\Plugins\\Shell.dll",
      "format": "vst2",
      "size": 123904,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "ok",
      "attempts": 1,
      "scanMs": 37,
      "plugins": [
        {
          "id": "536D5368",
          "shellId": null,
          "status": "ok",
          "name": "Sample Shell",
          "vendor": "Zandrel Software",
          "product": "Orvanta Samples",
          "version": "1.0.0.0",
          "numInputs": 0,
          "numOutputs": 0,
          "wantsMidi": false,
          "sendsMidi": false,
          "platform": "x64",
          "audio64": false,
          "category": 10,
          "synthEdit": false
        },
        {
          "id": "53480001",
          "shellId": "53480001",
          "status": "ok",
          "name": "Sample Shell Chorus",
          "vendor": "Zandrel Software",
          "product": "Orvanta Samples",
          "version": "1.0.0.0",
          "numInputs": 2,
          "numOutputs": 2,
          "wantsMidi": false,
          "sendsMidi": false,
          "platform": "x64",
          "audio64": true,
          "category": 1,
          "synthEdit": false
        },
        {
          "id": "53480002",
          "shellId": "53480002",
          "status": "crashed",
          "attempts": 2,
          "error": "access violation",
          "name": "Sample Shell Delay"
        }
      ]
    }
  ],
  "products": [
    {
      "name": "Sample Shell Chorus",
      "vendor": "Zandrel Software",
      "formats": [
        "vst2"
      ],
      "plugins": [
        {
          "format": "vst2",
          "path": "C:\\Plugins\\Shell.dll",
          "id": "53480001",
          "link": ""
        }
      ]
    }
  ]
}
)json";
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), expected);
}

TEST(DatabaseShape, CrashedModuleCarriesDumpExitCodeAndFaultingModule)
{
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\Crash.dll", Status::crashed);
    record.result.attempts = 2;
    record.result.error = "crashed in both attempts";
    record.result.crash.emplace();
    record.result.crash->dumpPath = "C:\\dumps\\ZiveRivedo-x64-2026-12-08-13-41-15.mdmp";
    record.result.exitCode = 9;
    record.result.crash->faultingModule = "C:\\Plugins\\Crash.dll";
    record.result.crash->exceptionCode = 0xC0000005;
    PluginDatabase db;
    Fill(db, folder, {record});

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module, json::parse(R"({
      "path": "C:\\Plugins\\Crash.dll", "format": "vst2", "size": 4096, "modified": "2026-12-08T13:41:15.250Z",
      "status": "crashed", "attempts": 2, "scanMs": 42, "error": "crashed in both attempts",
      "dump": "C:\\dumps\\ZiveRivedo-x64-2026-12-08-13-41-15.mdmp", "exitCode": 9,
      "faultingModule": "C:\\Plugins\\Crash.dll", "exceptionCode": "C0000005",
      "plugins": [ { "id": "536D4566", "shellId": null, "status": "crashed", "name": "Sample Effect" } ] })"));
}

TEST(DatabaseShape, TimedOutModuleListsTheWindowsItWaitedOn)
{
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\Dialog.dll", Status::timeout);
    record.result.plugins.clear();
    record.result.error = "no answer within 3000 ms";
    record.result.windows = {{"Licence check", "Please insert your dongle"}, {"Second", ""}};
    PluginDatabase db;
    Fill(db, folder, {record});

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["windows"], json::parse(R"([ { "title": "Licence check", "text": "Please insert your dongle" },
                                                  { "title": "Second", "text": "" } ])"));
    EXPECT_FALSE(module.contains("plugins"));
}

TEST(DatabaseShape, LoadProblemIsAMemberBesideTheServersError)
{
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\NeedsDep.dll", Status::failed);
    record.result.plugins.clear();
    record.result.error = "Failed to load library, err=126";
    record.result.loadProblem = "needs libgcc_s_seh-1.dll, not found";
    PluginDatabase db;
    Fill(db, folder, {record});

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["error"], "Failed to load library, err=126");
    EXPECT_EQ(module["loadProblem"], "needs libgcc_s_seh-1.dll, not found");
}

TEST(DatabaseText, LoadProblemSurvivesReopening)
{
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\NeedsDep.dll", Status::failed);
    record.result.loadProblem = "needs a.dll and b.dll, not found";
    {
        PluginDatabase db;
        Fill(db, folder, {record});
    }

    PluginDatabase again;
    std::string error;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    auto read = again.Find(L"C:\\Plugins\\NeedsDep.dll");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->result.loadProblem, "needs a.dll and b.dll, not found");
}

TEST(DatabaseShape, EmptyOptionalMembersAreLeftOut)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\Plugins\\Effect.dll")});

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    std::vector<std::string> keys;
    for (auto it = module.begin(); it != module.end(); ++it)
        keys.push_back(it.key());
    // A standard parser lists members alphabetically.
    EXPECT_EQ(keys, (std::vector<std::string>{"attempts", "format", "modified", "path", "plugins", "scanMs",
                                              "size", "status"}));
    EXPECT_FALSE(module["plugins"][0].contains("error"));
}

TEST(DatabaseShape, ModulesAreSortedByPathWhateverTheLetterCase)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder,
         {Module(L"C:\\Plugins\\c.dll"), Module(L"C:\\Plugins\\A.dll"), Module(L"C:\\Plugins\\b.dll"),
          Module(L"C:\\Plugins\\Sub\\a.dll")});

    json document = ReadJson(folder / L"plugins.json");
    std::vector<std::string> paths;
    for (const json& module : document["modules"])
        paths.push_back(module["path"]);
    EXPECT_EQ(paths, (std::vector<std::string>{"C:\\Plugins\\A.dll", "C:\\Plugins\\b.dll", "C:\\Plugins\\c.dll",
                                               "C:\\Plugins\\Sub\\a.dll"}));
}

TEST(DatabaseShape, SamePathInAnotherLetterCaseReplacesTheEntry)
{
    ScratchFolder folder;
    PluginDatabase db;
    ModuleRecord later = Module(L"c:\\plugins\\EFFECT.dll");
    later.result.scanMs = 7;
    Fill(db, folder, {Module(L"C:\\Plugins\\Effect.dll"), later});

    json document = ReadJson(folder / L"plugins.json");
    ASSERT_EQ(document["modules"].size(), 1u);
    EXPECT_EQ(document["modules"][0]["path"], "c:\\plugins\\EFFECT.dll");
    EXPECT_EQ(document["modules"][0]["scanMs"], 7);
}

TEST(DatabaseText, QuotesBackslashesControlCharactersAndHighBytesRoundTrip)
{
    // Quote, backslash, slash, the control characters 1, 8, 9, 10, 13, 31,
    // DEL, and U+0080..U+00FF (the server's widened bytes 128-255).
    std::string name = "a \"quoted\" \\name\\ / \x01\x08\t\n\r\x1f\x7f";
    for (int c = 0x80; c <= 0xFF; c++)
    {
        name += (char)(0xC0 | (c >> 6));
        name += (char)(0x80 | (c & 0x3F));
    }
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\\u00e9\u4e2d \"odd\".dll");
    record.result.plugins[0].report.name = name;
    record.result.plugins[0].report.vendor = "tab\there";
    record.result.error = "line one\nline two";
    {
        PluginDatabase db;
        Fill(db, folder, {record});
    }

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["plugins"][0]["name"], name);
    EXPECT_EQ(module["path"], "C:\\Plugins\\\xc3\xa9\xe4\xb8\xad \"odd\".dll");

    PluginDatabase again;
    std::string error;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    auto read = again.Find(L"C:\\Plugins\\\u00e9\u4e2d \"odd\".dll");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->result.plugins[0].report.name, name);
    EXPECT_EQ(read->result.plugins[0].report.vendor, "tab\there");
    EXPECT_EQ(read->result.error, "line one\nline two");
}

TEST(DatabaseText, InvalidUtf8IsReplacedAndTheFileStaysValid)
{
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\Raw.dll");
    record.result.plugins[0].report.name = "caf\xe9 \xff";
    PluginDatabase db;
    Fill(db, folder, {record});

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["plugins"][0]["name"], "caf\xef\xbf\xbd \xef\xbf\xbd");
}

TEST(DatabaseText, EveryMemberSurvivesReopening)
{
    ScratchFolder folder;
    ModuleRecord record = Module(L"C:\\Plugins\\Crash.dll", Status::crashed);
    record.size = 5000000000ull;
    record.result.attempts = 2;
    record.result.scanMs = 15234;
    record.result.error = "crashed";
    record.result.crash.emplace();
    record.result.crash->dumpPath = "C:\\dumps\\a.mdmp";
    record.result.exitCode = (int)0xC0000005;
    record.result.crash->faultingModule = "C:\\Plugins\\Crash.dll";
    record.result.crash->exceptionCode = 0xC00000FD;
    record.result.windows = {{"T", "x\ny"}};
    PluginEntry& p = record.result.plugins[0];
    p.status = Status::failed;
    p.error = "no entry point";
    p.report = {};
    p.report.id = 0xFFFFFFFF;
    p.report.numInputs = -2;
    p.report.numOutputs = 8;
    p.report.wantsMidi = p.report.sendsMidi = p.report.audio64 = p.report.synthEdit = true;
    p.report.category = -1;
    p.report.platform = "x64";
    PluginEntry sub;
    sub.shellId = 0xABCDEF01;
    sub.status = Status::timeout;
    sub.attempts = 3;
    record.result.plugins.push_back(sub);
    {
        PluginDatabase db;
        Fill(db, folder, {record}, "banner");
    }

    PluginDatabase again;
    std::string error;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    EXPECT_EQ(again.Server(), "banner");
    auto read = again.Find(L"C:\\Plugins\\Crash.dll");
    ASSERT_TRUE(read.has_value());
    const ModuleResult& m = read->result;
    EXPECT_EQ(read->size, 5000000000ull);
    EXPECT_EQ(read->modified, "2026-12-08T13:41:15.250Z");
    EXPECT_EQ(m.status, Status::crashed);
    EXPECT_EQ(m.attempts, 2);
    EXPECT_EQ(m.scanMs, 15234u);
    EXPECT_EQ(m.error, "crashed");
    ASSERT_TRUE(m.crash);
    EXPECT_EQ(m.crash->dumpPath, "C:\\dumps\\a.mdmp");
    ASSERT_TRUE(m.exitCode.has_value());
    EXPECT_EQ((uint32_t)*m.exitCode, 0xC0000005u);
    EXPECT_EQ(m.crash->faultingModule, "C:\\Plugins\\Crash.dll");
    EXPECT_EQ(m.crash->exceptionCode, 0xC00000FDu);
    ASSERT_EQ(m.windows.size(), 1u);
    EXPECT_EQ(m.windows[0].title, "T");
    EXPECT_EQ(m.windows[0].text, "x\ny");
    ASSERT_EQ(m.plugins.size(), 2u);
    const PluginEntry& own = m.plugins[0];
    EXPECT_FALSE(own.shellId.has_value());
    EXPECT_EQ(own.status, Status::failed);
    EXPECT_EQ(own.error, "no entry point");
    EXPECT_EQ(own.report.id, 0xFFFFFFFFu);
    EXPECT_EQ(own.report.numInputs, -2);
    EXPECT_EQ(own.report.numOutputs, 8);
    EXPECT_TRUE(own.report.wantsMidi && own.report.sendsMidi && own.report.audio64 && own.report.synthEdit);
    EXPECT_EQ(own.report.category, -1);
    EXPECT_EQ(own.report.platform, "x64");
    ASSERT_TRUE(m.plugins[1].shellId.has_value());
    EXPECT_EQ(*m.plugins[1].shellId, 0xABCDEF01u);
    EXPECT_EQ(m.plugins[1].report.id, 0xABCDEF01u);
    EXPECT_EQ(m.plugins[1].status, Status::timeout);
    EXPECT_EQ(m.plugins[1].attempts, 3);
    EXPECT_EQ(own.attempts, 1);
}

TEST(DatabaseWrite, MissingFileIsAnEmptyDatabaseAndNoFileUntilTheFirstWrite)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    EXPECT_TRUE(db.Modules().empty());
    EXPECT_FALSE(Exists(folder / L"plugins.json"));
}

TEST(DatabaseWrite, EachRecordRewritesTheFileAndLeavesNoTemporaryFile)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\Plugins\\A.dll")});
    EXPECT_EQ(ReadJson(folder / L"plugins.json")["modules"].size(), 1u);
    std::string error;
    ASSERT_TRUE(db.Record(Module(L"C:\\Plugins\\B.dll"), &error)) << error;
    EXPECT_EQ(ReadJson(folder / L"plugins.json")["modules"].size(), 2u);
    EXPECT_FALSE(Exists(folder / L"plugins.json.tmp"));
}

// Whichever module a run finishes last, the file names the 64-bit server.
TEST(DatabaseWrite, ServerIsThe64BitServersBannerAlsoAfterA32BitModule)
{
    ScratchFolder folder;
    ModuleRecord x64 = Module(L"C:\\Plugins\\A.dll"), x86 = Module(L"C:\\Plugins\\B.dll");
    x64.result.machine = "x64";
    x64.result.server = "Orvanta Plugin Scan Server (x64)";
    x86.result.machine = "x86";
    x86.result.server = "Orvanta Plugin Scan Server (x86)";
    PluginDatabase db;
    Fill(db, folder, {x64, x86});
    EXPECT_EQ(ReadJson(folder / L"plugins.json")["server"], "Orvanta Plugin Scan Server (x64)");
}

TEST(DatabaseWrite, FileInAFolderThatDoesNotExistIsRefusedAtOnce)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(folder / L"missing\\plugins.json", &error));
    EXPECT_EQ(error, "the folder of the database " + Utf8(folder / L"missing\\plugins.json") +
                         " does not exist");
    EXPECT_FALSE(db.Record(Module(L"C:\\Plugins\\A.dll"), &error));
    EXPECT_FALSE(Exists(folder / L"missing"));
}

TEST(DatabaseWrite, BlamedModuleIsMarkedCrashedWithTheDumpFindings)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\Plugins\\Leaver.dll")});
    Blame blame;
    blame.path = L"C:\\Plugins\\Leaver.dll";
    blame.crash.dumpPath = "C:\\dumps\\b.mdmp";
    blame.crash.exceptionCode = 0xC0000005;
    blame.crash.faultingModule = "C:\\Plugins\\Leaver.dll";
    std::string error;
    ASSERT_TRUE(db.MarkCrashed(blame, &error)) << error;

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["status"], "crashed");
    EXPECT_EQ(module["dump"], "C:\\dumps\\b.mdmp");
    EXPECT_EQ(module["exceptionCode"], "C0000005");
    EXPECT_EQ(module["faultingModule"], "C:\\Plugins\\Leaver.dll");
    EXPECT_EQ(module["exitCode"], 9);
    EXPECT_EQ(module["error"], "a thread it left running crashed the server during a later request");
}

TEST(DatabaseWrite, ApplyWritesTheRecordsThenMarksTheCrashesFoundLater)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\Old.dll")});
    // Leaver.dll is both in this write and crashed later: the crash wins,
    // since it was found after the record.
    ModuleRecord leaver = Module(L"C:\\P\\Leaver.dll");
    ModuleRecord other = Module(L"C:\\P\\Other.dll", Status::failed);
    other.result.error = "Entry point not found, not a VST plugin";
    Blame late;
    late.path = L"C:\\P\\Leaver.dll";
    late.crash.dumpPath = "C:\\dumps\\server-2\\late.mdmp";
    late.crash.exceptionCode = 0xC0000005;
    late.crash.faultingModule = "C:\\P\\Leaver.dll";
    Blame earlier;
    earlier.path = L"C:\\P\\Old.dll";
    earlier.crash.dumpPath = "C:\\dumps\\server-1\\old.mdmp";
    earlier.crash.exceptionCode = 0xC0000094;
    earlier.crash.faultingModule = "C:\\P\\Old.dll";
    std::string error;
    ASSERT_TRUE(db.Apply({leaver, other}, {late, earlier}, &error)) << error;

    json modules = ReadJson(folder / L"plugins.json")["modules"];
    ASSERT_EQ(modules.size(), 3u) << modules.dump();
    EXPECT_EQ(modules[0]["path"], "C:\\P\\Leaver.dll");
    EXPECT_EQ(modules[0]["status"], "crashed");
    EXPECT_EQ(modules[0]["dump"], "C:\\dumps\\server-2\\late.mdmp");
    EXPECT_EQ(modules[0]["exceptionCode"], "C0000005");
    EXPECT_EQ(modules[0]["exitCode"], 9);
    EXPECT_EQ(modules[0]["error"], "a thread it left running crashed the server during a later request");
    EXPECT_EQ(modules[0]["plugins"][0]["name"], "Sample Effect");
    EXPECT_EQ(modules[1]["path"], "C:\\P\\Old.dll");
    EXPECT_EQ(modules[1]["status"], "crashed");
    EXPECT_EQ(modules[1]["exceptionCode"], "C0000094");
    EXPECT_EQ(modules[1]["dump"], "C:\\dumps\\server-1\\old.mdmp");
    EXPECT_EQ(modules[2]["path"], "C:\\P\\Other.dll");
    EXPECT_EQ(modules[2]["status"], "failed");
    EXPECT_EQ(modules[2]["error"], "Entry point not found, not a VST plugin");
    EXPECT_FALSE(modules[2].contains("dump"));
    EXPECT_FALSE(Exists(folder / L"plugins.json.tmp"));
}

TEST(DatabaseWrite, ApplyToAFolderThatWentAwayGivesTheErrorAndWritesNothing)
{
    ScratchFolder folder;
    MakeFolder(folder / L"sub");
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"sub\\plugins.json", &error)) << error;
    ASSERT_TRUE(RemoveDirectoryW((folder / L"sub").c_str()));
    EXPECT_FALSE(db.Apply({Module(L"C:\\P\\A.dll")}, {}, &error));
    EXPECT_EQ(error.rfind("cannot create " + Utf8(folder / L"sub\\plugins.json.tmp") + " (", 0), 0u)
        << error;
    EXPECT_FALSE(Exists(folder / L"sub"));
}

TEST(DatabaseWrite, ToJsonHoldsOnlyTheNamedModules)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll"), Module(L"C:\\P\\B.dll"), Module(L"C:\\P\\C.dll")}, "banner");

    json document = json::parse(db.ToJson({L"C:\\P\\C.dll", L"c:\\p\\a.dll", L"C:\\P\\Gone.dll"}));
    EXPECT_EQ(document["format"], 5);
    EXPECT_EQ(document["server"], "banner");
    ASSERT_EQ(document["modules"].size(), 2u);
    EXPECT_EQ(document["modules"][0]["path"], "C:\\P\\A.dll");
    EXPECT_EQ(document["modules"][1]["path"], "C:\\P\\C.dll");
}

TEST(DatabaseBlocklist, BlockedModuleLosesItsEntryAndIsKeptWithReasonAndTimeInTheFile)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll"), Module(L"C:\\P\\B.dll")}, "banner");
    std::string error;
    ASSERT_TRUE(db.Block({L"c:\\p\\b.dll"}, "hangs on its licence dialog", &error)) << error;

    json document = ReadJson(db.Path());
    ASSERT_EQ(document["modules"].size(), 1u);
    EXPECT_EQ(document["modules"][0]["path"], "C:\\P\\A.dll");
    ASSERT_EQ(document["blocked"].size(), 1u);
    EXPECT_EQ(document["blocked"][0]["path"], "c:\\p\\b.dll");
    EXPECT_EQ(document["blocked"][0]["reason"], "hangs on its licence dialog");
    EXPECT_EQ(document["blocked"][0]["when"].get<std::string>().size(), 24u); // 2026-12-09T13:41:15.250Z
    PluginDatabase reopened;
    ASSERT_TRUE(reopened.Open(db.Path(), &error)) << error;
    EXPECT_TRUE(reopened.IsBlocked(L"C:\\P\\B.dll"));
    ASSERT_EQ(reopened.Blocked().size(), 1u);
    EXPECT_EQ(reopened.Blocked()[0].reason, "hangs on its licence dialog");
}

TEST(DatabaseBlocklist, UnblockingTheLastModuleLeavesTheFileAsBeforeBlocking)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll")}, "banner");
    std::string before = ReadWholeFile(db.Path()), error;
    ASSERT_TRUE(db.Block({L"C:\\P\\New.dll"}, "", &error)) << error;
    ASSERT_TRUE(db.Unblock({L"C:\\P\\New.dll", L"C:\\P\\NeverBlocked.dll"}, &error)) << error;
    EXPECT_EQ(ReadWholeFile(db.Path()), before);
}

TEST(DatabaseBlocklist, BlockedMemberThatIsNotAListIsRefused)
{
    ScratchFolder folder;
    std::wstring path = folder.Write(L"db.json", "{\"format\": 4, \"modules\": [], \"blocked\": {}}");
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(path, &error));
    EXPECT_NE(error.find("blocked is not a list"), std::string::npos) << error;
}

class DatabaseRefusal : public ::testing::TestWithParam<const char*>
{
};

TEST_P(DatabaseRefusal, UnreadableFileIsRefusedAndLeftByteForByte)
{
    ScratchFolder folder;
    const std::string bytes = GetParam();
    WriteWholeFile(folder / L"plugins.json", bytes);
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(folder / L"plugins.json", &error));
    EXPECT_NE(error.find("plugins.json"), std::string::npos) << error;
    EXPECT_FALSE(db.Record(Module(L"C:\\Plugins\\A.dll"), &error));
    EXPECT_FALSE(db.Remove({L"C:\\Plugins\\A.dll"}, &error));
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), bytes);
}

// Named by index: the texts themselves make poor test names.
INSTANTIATE_TEST_SUITE_P(
    Files, DatabaseRefusal,
    ::testing::Values("", "{\"format\": 1, \"modules\": [", "not json at all", "[]",
                      "{\"modules\": []}", "{\"format\": 6, \"modules\": []}", "{\"format\": 1}",
                      "{\"format\": 1, \"modules\": [{\"path\": \"C:\\\\A.dll\", \"modified\": \"x\", \"status\": \"ok\"}]}",
                      "{\"format\": 1, \"modules\": [{\"path\": \"C:\\\\A.dll\", \"size\": -1, \"modified\": \"x\", \"status\": \"ok\"}]}",
                      "{\"format\": 1, \"modules\": [{\"path\": \"C:\\\\A.dll\", \"size\": 1, \"modified\": \"x\", \"status\": \"fine\"}]}",
                      "{\"format\": 1, \"modules\": [{\"path\": \"C:\\\\A.dll\", \"size\": 1, \"modified\": \"x\", \"status\": \"ok\", \"plugins\": [{\"id\": \"12\", \"status\": \"ok\"}]}]}"),
    [](const ::testing::TestParamInfo<const char*>& info) { return "File" + std::to_string(info.index); });

TEST(DatabaseRefusalReason, NamesTheMemberThatIsWrong)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"plugins.json",
               R"({"format": 1, "modules": [{"path": "C:\\A.dll", "size": "big", "modified": "x", "status": "ok"}]})");
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(folder / L"plugins.json", &error));
    EXPECT_NE(error.find("module 'C:\\A.dll'.size is not a whole number"), std::string::npos) << error;
}

TEST(DatabaseRefusalReason, FileLockedByAnotherProgramIsRefusedAndLeftAlone)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"plugins.json", "{\"format\": 1, \"modules\": []}");
    HANDLE lock = CreateFileW((folder / L"plugins.json").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(folder / L"plugins.json", &error));
    EXPECT_NE(error.find("cannot read the database"), std::string::npos) << error;
    EXPECT_FALSE(db.Record(Module(L"C:\\Plugins\\A.dll"), &error));
    CloseHandle(lock);
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), "{\"format\": 1, \"modules\": []}");
}

TEST(DatabasePlan, NewModuleIsScanned)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {});
    ScanPlan plan = db.Plan(Found({File(L"C:\\P\\New.dll")}, {L"C:\\P"}), {});
    EXPECT_EQ(Paths(plan.toScan), (std::vector<std::string>{"C:\\P\\New.dll"}));
    EXPECT_TRUE(plan.unchanged.empty());
    EXPECT_TRUE(plan.removed.empty());
}

TEST(DatabasePlan, UnchangedModuleIsSkipped)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll")});
    ScanPlan plan = db.Plan(Found({File(L"C:\\P\\A.dll")}, {L"C:\\P"}), {});
    EXPECT_TRUE(plan.toScan.empty());
    EXPECT_EQ(Paths(plan.unchanged), (std::vector<std::string>{"C:\\P\\A.dll"}));
}

TEST(DatabasePlan, OtherSizeOrOtherLastWriteIsScannedAgain)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll"), Module(L"C:\\P\\B.dll")});
    ScanPlan plan = db.Plan(
        Found({File(L"C:\\P\\A.dll", 4097), File(L"C:\\P\\B.dll", 4096, "2026-12-08T13:41:15.251Z")}, {L"C:\\P"}),
        {});
    EXPECT_EQ(Paths(plan.toScan), (std::vector<std::string>{"C:\\P\\A.dll", "C:\\P\\B.dll"}));
}

TEST(DatabasePlan, RescanScansUnchangedModules)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll")});
    PlanOptions options;
    options.rescan = true;
    ScanPlan plan = db.Plan(Found({File(L"C:\\P\\A.dll")}, {L"C:\\P"}), options);
    EXPECT_EQ(Paths(plan.toScan), (std::vector<std::string>{"C:\\P\\A.dll"}));
}

TEST(DatabasePlan, CrashedTimedOutAndLostAreSkippedUnlessRetried)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder,
         {Module(L"C:\\P\\Crashed.dll", Status::crashed), Module(L"C:\\P\\Failed.dll", Status::failed),
          Module(L"C:\\P\\Lost.dll", Status::lost), Module(L"C:\\P\\Ok.dll"),
          Module(L"C:\\P\\Timeout.dll", Status::timeout)});
    FoundModules found = Found({File(L"C:\\P\\Crashed.dll"), File(L"C:\\P\\Failed.dll"), File(L"C:\\P\\Lost.dll"),
                                File(L"C:\\P\\Ok.dll"), File(L"C:\\P\\Timeout.dll")},
                               {L"C:\\P"});
    EXPECT_TRUE(db.Plan(found, {}).toScan.empty());

    PlanOptions retry;
    retry.retryFailed = true;
    ScanPlan plan = db.Plan(found, retry);
    EXPECT_EQ(Paths(plan.toScan), (std::vector<std::string>{"C:\\P\\Crashed.dll", "C:\\P\\Lost.dll",
                                                             "C:\\P\\Timeout.dll"}));
    EXPECT_EQ(Paths(plan.unchanged), (std::vector<std::string>{"C:\\P\\Failed.dll", "C:\\P\\Ok.dll"}));
}

// Scanned before a 32-bit server was at hand, an x86 module waits for one;
// an x86 module a 32-bit server found no plugin in does not.
TEST(DatabasePlan, X86ModuleThatFailedForWantOfA32BitServerIsScannedOnceThereIsOne)
{
    ScratchFolder folder;
    ModuleRecord waited = Module(L"C:\\P\\Waited.dll", Status::failed);
    waited.result.machine = "x86";
    waited.result.error = waited.result.loadProblem =
        "32-bit module: built for x86; only 64-bit (x64) modules can be loaded";
    ModuleRecord scanned = Module(L"C:\\P\\Scanned.dll", Status::failed);
    scanned.result.machine = "x86";
    scanned.result.error = "Not a VST plugin";
    PluginDatabase db;
    Fill(db, folder, {waited, scanned});
    FoundModules found = Found({File(L"C:\\P\\Waited.dll"), File(L"C:\\P\\Scanned.dll")}, {L"C:\\P"});
    EXPECT_TRUE(db.Plan(found, {}).toScan.empty());

    PlanOptions withX86;
    withX86.x86Server = true;
    ScanPlan plan = db.Plan(found, withX86);
    EXPECT_EQ(Paths(plan.toScan), (std::vector<std::string>{"C:\\P\\Waited.dll"}));
    EXPECT_EQ(Paths(plan.unchanged), (std::vector<std::string>{"C:\\P\\Scanned.dll"}));
}

TEST(DatabasePlan, ShellWithACrashedSubPluginIsRetried)
{
    ScratchFolder folder;
    ModuleRecord shell = Module(L"C:\\P\\Shell.dll");
    PluginEntry sub;
    sub.shellId = 2;
    sub.status = Status::crashed;
    shell.result.plugins.push_back(sub);
    PluginDatabase db;
    Fill(db, folder, {shell});
    PlanOptions retry;
    retry.retryFailed = true;
    EXPECT_EQ(Paths(db.Plan(Found({File(L"C:\\P\\Shell.dll")}, {L"C:\\P"}), retry).toScan),
              (std::vector<std::string>{"C:\\P\\Shell.dll"}));
}

TEST(DatabasePlan, GoneFilesUnderTheGivenFoldersAreRemovedOthersKept)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder,
         {Module(L"C:\\P\\Gone.dll"), Module(L"C:\\P\\Sub\\Gone.dll"), Module(L"C:\\P\\Kept.dll"),
          Module(L"C:\\Plugins2\\Other.dll"), Module(L"C:\\Q\\Other.dll"), Module(L"C:\\Single.dll")});
    ScanPlan plan = db.Plan(Found({File(L"c:\\p\\kept.dll")}, {L"C:\\P", L"C:\\Single.dll"}), {});
    EXPECT_EQ(Paths(plan.removed),
              (std::vector<std::string>{"C:\\P\\Gone.dll", "C:\\P\\Sub\\Gone.dll", "C:\\Single.dll"}));
    EXPECT_EQ(Paths(plan.unchanged), (std::vector<std::string>{"c:\\p\\kept.dll"}));
}

TEST(DatabasePlan, SearchForSomeFormatsRemovesOnlyTheirGoneEntries)
{
    ScratchFolder folder;
    PluginDatabase db;
    ModuleRecord bundle = Module(L"C:\\P\\Gone.vst3");
    bundle.result.format = PluginFormat::vst3;
    Fill(db, folder, {Module(L"C:\\P\\Gone.dll"), bundle});
    FoundModules vst3 = Found({}, {L"C:\\P"});
    vst3.formats = {PluginFormat::vst3};
    EXPECT_EQ(Paths(db.Plan(vst3, {}).removed), (std::vector<std::string>{"C:\\P\\Gone.vst3"}));
    FoundModules vst2 = Found({}, {L"C:\\P"});
    vst2.formats = {PluginFormat::vst2};
    EXPECT_EQ(Paths(db.Plan(vst2, {}).removed), (std::vector<std::string>{"C:\\P\\Gone.dll"}));
}

TEST(DatabasePlan, RemoveDropsTheEntriesFromTheFile)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\Gone.dll"), Module(L"C:\\P\\Kept.dll")});
    std::string error;
    ASSERT_TRUE(db.Remove({L"C:\\P\\Gone.dll"}, &error)) << error;
    json document = ReadJson(folder / L"plugins.json");
    ASSERT_EQ(document["modules"].size(), 1u);
    EXPECT_EQ(document["modules"][0]["path"], "C:\\P\\Kept.dll");
}

TEST(DatabasePlan, ProblemMeansAnyModuleOrPluginOutcomeOtherThanOk)
{
    EXPECT_FALSE(HasProblem(Module(L"C:\\A.dll").result));
    EXPECT_TRUE(HasProblem(Module(L"C:\\A.dll", Status::failed).result));
    ModuleRecord shell = Module(L"C:\\S.dll");
    shell.result.plugins.push_back(PluginEntry());
    shell.result.plugins.back().status = Status::lost;
    EXPECT_TRUE(HasProblem(shell.result));
}

TEST(ModuleFiles, LastWriteIsUtcWithMilliseconds)
{
    EXPECT_EQ(FileTimeText(134412108752500000ull), "2026-12-08T13:41:15.250Z");
    EXPECT_EQ(FileTimeText(134412108760000000ull), "2026-12-08T13:41:16.000Z");
}

TEST(ModuleFiles, FoldersAreSearchedRecursivelyForDllInAnyCaseAndSorted)
{
    ScratchFolder folder;
    MakeFolder(folder / L"Sub");
    MakeFolder(folder / L"Sub\\Deeper");
    for (const wchar_t* name : {L"b.dll", L"A.DLL", L"Sub\\c.Dll", L"Sub\\Deeper\\d.dll", L"notes.txt",
                                L"Sub\\e.dll.bak", L"dll"})
        WriteWholeFile(folder / name, "x");
    FoundModules found = FindModules({folder.Path()});
    std::string base = Utf8(folder.Path());
    EXPECT_EQ(Paths(found.files), (std::vector<std::string>{base + "\\A.DLL", base + "\\b.dll",
                                                            base + "\\Sub\\c.Dll", base + "\\Sub\\Deeper\\d.dll"}));
    EXPECT_EQ(Paths(found.roots), (std::vector<std::string>{base}));
    EXPECT_TRUE(found.errors.empty());
}

TEST(ModuleFiles, SizeAndLastWriteComeFromTheFile)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"a.dll", "12345");
    SetLastWrite(folder / L"a.dll", 134412108752500000ull);
    FoundModules found = FindModules({folder.Path()});
    ASSERT_EQ(found.files.size(), 1u);
    EXPECT_EQ(found.files[0].size, 5u);
    EXPECT_EQ(found.files[0].modified, "2026-12-08T13:41:15.250Z");
}

TEST(ModuleFiles, FileNamedDirectlyIsTakenWhateverItsNameAndOnce)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"plugin.vst", "x");
    WriteWholeFile(folder / L"a.dll", "x");
    FoundModules found = FindModules({folder / L"plugin.vst", folder.Path(), folder / L"A.DLL"});
    std::string base = Utf8(folder.Path());
    EXPECT_EQ(Paths(found.files), (std::vector<std::string>{base + "\\a.dll", base + "\\plugin.vst"}));
}

TEST(ModuleFiles, MissingPathIsAnError)
{
    ScratchFolder folder;
    FoundModules found = FindModules({folder / L"nothing here"});
    EXPECT_TRUE(found.files.empty());
    ASSERT_EQ(found.errors.size(), 1u);
    EXPECT_EQ(found.errors[0], "no such file or folder: " + Utf8(folder / L"nothing here"));
}

TEST(ModuleFiles, RelativePathsAndTrailingBackslashesAreMadeFull)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"a.dll", "x");
    wchar_t previous[4096];
    GetCurrentDirectoryW(4096, previous);
    SetCurrentDirectoryW(folder.Path().c_str());
    FoundModules found = FindModules({L".\\", L"a.dll"});
    SetCurrentDirectoryW(previous);
    std::string base = Utf8(folder.Path());
    EXPECT_EQ(Paths(found.files), (std::vector<std::string>{base + "\\a.dll"}));
    EXPECT_EQ(Paths(found.roots), (std::vector<std::string>{base, base + "\\a.dll"}));
}

TEST(DatabaseScanOrder, SlowestKnownModulesFirstTiesByPathThenNewOnesByPath)
{
    ScratchFolder folder;
    PluginDatabase db;
    auto timed = [](const std::wstring& path, uint32_t ms) {
        ModuleRecord record = Module(path);
        record.result.scanMs = ms;
        return record;
    };
    Fill(db, folder,
         {timed(L"C:\\P\\Beta.dll", 50), timed(L"C:\\P\\alpha.dll", 50), timed(L"C:\\P\\Gamma.dll", 10),
          timed(L"C:\\P\\Delta.dll", 120), timed(L"C:\\P\\NotAsked.dll", 999)});
    std::vector<ModuleFile> toScan = {File(L"C:\\P\\Zeta.dll"), File(L"C:\\P\\Gamma.dll"),
                                      File(L"C:\\P\\Beta.dll"),  File(L"C:\\P\\eta.dll"),
                                      File(L"C:\\P\\alpha.dll"), File(L"C:\\P\\Delta.dll", 777)};
    std::vector<ModuleFile> order = db.ScanOrder(toScan);
    EXPECT_EQ(Paths(order), (std::vector<std::string>{"C:\\P\\Delta.dll", "C:\\P\\alpha.dll", "C:\\P\\Beta.dll",
                                                      "C:\\P\\Gamma.dll", "C:\\P\\eta.dll", "C:\\P\\Zeta.dll"}));
    // The files as found now, not as the database remembers them.
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(order[0].size, 777u);
}

TEST(DatabaseScanOrder, KnownInAnotherLetterCaseCountsAsKnown)
{
    ScratchFolder folder;
    PluginDatabase db;
    ModuleRecord slow = Module(L"C:\\P\\SLOW.DLL");
    slow.result.scanMs = 5;
    Fill(db, folder, {slow});
    std::vector<ModuleFile> order = db.ScanOrder({File(L"C:\\P\\Fresh.dll"), File(L"c:\\p\\slow.dll")});
    EXPECT_EQ(Paths(order), (std::vector<std::string>{"c:\\p\\slow.dll", "C:\\P\\Fresh.dll"}));
}

TEST(DatabaseScanOrder, NothingToScanGivesAnEmptyOrder)
{
    ScratchFolder folder;
    PluginDatabase db;
    Fill(db, folder, {Module(L"C:\\P\\A.dll")});
    EXPECT_TRUE(db.ScanOrder({}).empty());
}
