// The run's one database writer: everything handed to it reaches the file,
// the after-write callback sees each record once, and the first failed
// write stops all writing.
#include "../client_support.h"
#include "files.h"
#include "json_file.h"
#include <orvanta/database_writer.h>
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <mutex>
#include <thread>

using namespace orvanta;
using namespace testsupport;
using clienttest::ScannedRecord;
using orvanta::DatabaseWriter;
using orvanta::WrittenBlame;
using nlohmann::json;

namespace {

std::vector<std::string> PathsIn(const json& document)
{
    std::vector<std::string> paths;
    for (const json& module : document["modules"])
        paths.push_back(module["path"]);
    return paths;
}

} // namespace

TEST(DatabaseWriter, EverythingAddedFromSeveralThreadsIsWrittenAndSeenOnceAfterItsWrite)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    std::mutex lock;
    std::map<std::string, int> seen; // path -> times afterWrite saw it
    {
        DatabaseWriter writer(db, [&](const std::vector<ModuleRecord>& records, const std::vector<WrittenBlame>&) {
            std::lock_guard<std::mutex> hold(lock);
            for (const ModuleRecord& record : records)
                seen[Utf8(record.result.path)]++;
        });
        std::thread one([&] {
            for (int i = 0; i < 20; i++)
                writer.Add(ScannedRecord(L"C:\\P\\One" + std::to_wstring(i) + L".dll"));
        });
        std::thread two([&] {
            for (int i = 0; i < 20; i++)
                writer.Add(ScannedRecord(L"C:\\P\\Two" + std::to_wstring(i) + L".dll", Status::failed));
        });
        one.join();
        two.join();
        EXPECT_EQ(writer.Finish(), "");
    }
    json document = ReadJson(folder / L"plugins.json");
    ASSERT_EQ(document["modules"].size(), 40u);
    EXPECT_EQ(PathsIn(document)[0], "C:\\P\\One0.dll");
    EXPECT_EQ(PathsIn(document)[39], "C:\\P\\Two9.dll");
    EXPECT_EQ(seen.size(), 40u);
    for (const auto& entry : seen)
        EXPECT_EQ(entry.second, 1) << entry.first;
    EXPECT_EQ(seen.count("C:\\P\\Two19.dll"), 1u);
    EXPECT_FALSE(Exists(folder / L"plugins.json.tmp"));
}

TEST(DatabaseWriter, CrashFoundLaterIsWrittenWithTheEntryBeforeAndAfter)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    std::vector<WrittenBlame> blames;
    {
        DatabaseWriter writer(db, [&](const std::vector<ModuleRecord>&, const std::vector<WrittenBlame>& written) {
            blames.insert(blames.end(), written.begin(), written.end());
        });
        writer.Add(ScannedRecord(L"C:\\P\\Leaver.dll"));
        Blame blame;
        blame.path = L"C:\\P\\Leaver.dll";
        blame.crash.dumpPath = "C:\\dumps\\server-1\\a.mdmp";
        blame.crash.exceptionCode = 0xC0000005;
        blame.crash.faultingModule = "C:\\P\\Leaver.dll";
        writer.Add(blame);
        EXPECT_EQ(writer.Finish(), "");
    }
    ASSERT_EQ(blames.size(), 1u);
    EXPECT_EQ(blames[0].blame.path, L"C:\\P\\Leaver.dll");
    ASSERT_TRUE(blames[0].before);
    EXPECT_EQ(blames[0].before->status, Status::ok);
    ASSERT_TRUE(blames[0].after);
    EXPECT_EQ(blames[0].after->status, Status::crashed);
    ASSERT_TRUE(blames[0].after->crash);
    EXPECT_EQ(blames[0].after->crash->dumpPath, "C:\\dumps\\server-1\\a.mdmp");
    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["status"], "crashed");
    EXPECT_EQ(module["error"], "a thread it left running crashed the server during a later request");
}

// The banner comes with the results of the server that gave it; a result
// from a server that never started leaves the last one in place.
TEST(DatabaseWriter, TheServerBannerIsTheOneOfTheLastResultThatHasOne)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    {
        DatabaseWriter writer(db, {});
        ModuleRecord first = ScannedRecord(L"C:\\P\\A.dll");
        first.result.server = "Orvanta Plugin Scan Server (x64)";
        writer.Add(first);
        ModuleRecord lost = ScannedRecord(L"C:\\P\\B.dll", Status::lost);
        writer.Add(lost);
        EXPECT_EQ(writer.Finish(), "");
    }
    EXPECT_EQ(ReadJson(folder / L"plugins.json")["server"], "Orvanta Plugin Scan Server (x64)");
    EXPECT_EQ(db.Server(), "Orvanta Plugin Scan Server (x64)");
}

// A blame names the path as the server's dump spells it; the entry it
// marks is the module's own, whatever the letter case and separators.
TEST(DatabaseWriter, ABlameUnderAnotherSpellingMarksTheModulesOwnEntry)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    {
        DatabaseWriter writer(db, {});
        writer.Add(ScannedRecord(L"C:\\Plugins\\Leaver.dll"));
        Blame blame;
        blame.path = L"c:/plugins/LEAVER.DLL";
        blame.crash.exceptionCode = 0xC0000005;
        writer.Add(blame);
        EXPECT_EQ(writer.Finish(), "");
    }
    json modules = ReadJson(folder / L"plugins.json")["modules"];
    ASSERT_EQ(modules.size(), 1u) << modules.dump();
    EXPECT_EQ(modules[0]["path"], "C:\\Plugins\\Leaver.dll");
    EXPECT_EQ(modules[0]["status"], "crashed");

    // Read back, the entry holds the crash as a record of its own.
    PluginDatabase again;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    std::optional<ModuleRecord> entry = again.Find(L"C:\\PLUGINS\\leaver.dll");
    ASSERT_TRUE(entry);
    ASSERT_TRUE(entry->result.crash);
    EXPECT_EQ(entry->result.crash->exceptionCode, 0xC0000005u);
    EXPECT_TRUE(entry->result.crash->leftOverThread);
    EXPECT_EQ(entry->result.exitCode, ServerCrashExitCode);
}

TEST(DatabaseWriter, DatabaseThatCannotBeWrittenGivesTheErrorAndNothingMoreIsWritten)
{
    ScratchFolder folder;
    MakeFolder(folder / L"sub");
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"sub\\plugins.json", &error)) << error;
    ASSERT_TRUE(RemoveDirectoryW((folder / L"sub").c_str()));
    int writes = 0;
    DatabaseWriter writer(db, [&](const std::vector<ModuleRecord>&, const std::vector<WrittenBlame>&) { writes++; });
    writer.Add(ScannedRecord(L"C:\\P\\A.dll"));
    for (int i = 0; i < 2000 && writer.Error().empty(); i++)
        Sleep(5);
    const std::string expected = "cannot create " + Utf8(folder / L"sub\\plugins.json.tmp") + " (";
    EXPECT_EQ(writer.Error().rfind(expected, 0), 0u) << writer.Error();
    // The folder is back, but the run is ending: later modules are dropped.
    MakeFolder(folder / L"sub");
    writer.Add(ScannedRecord(L"C:\\P\\B.dll"));
    std::string finished = writer.Finish();
    EXPECT_EQ(finished.rfind(expected, 0), 0u) << finished;
    EXPECT_EQ(writes, 0);
    EXPECT_FALSE(Exists(folder / L"sub\\plugins.json"));
}
