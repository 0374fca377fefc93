// The run's one database writer: everything handed to it reaches the file,
// the after-write callback sees each record once, and the first failed
// write stops all writing.
#include "files.h"
#include "json_file.h"
#include "orvanta_scan.h"
#include "result_writer.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <mutex>
#include <thread>

using namespace orvanta;
using namespace testsupport;
using orvantacli::ResultWriter;
using orvantacli::WrittenBlame;
using nlohmann::json;

namespace {

ModuleRecord Record(const std::wstring& path, Status status = Status::ok)
{
    ModuleRecord record;
    record.size = 4096;
    record.modified = "2026-12-08T13:41:15.250Z";
    record.result.path = path;
    record.result.status = status;
    record.result.attempts = 1;
    record.result.scanMs = 42;
    return record;
}

std::vector<std::string> PathsIn(const json& document)
{
    std::vector<std::string> paths;
    for (const json& module : document["modules"])
        paths.push_back(module["path"]);
    return paths;
}

} // namespace

TEST(ResultWriter, EverythingAddedFromSeveralThreadsIsWrittenAndSeenOnceAfterItsWrite)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    std::mutex lock;
    std::map<std::string, int> seen; // path -> times afterWrite saw it
    {
        ResultWriter writer(db, [&](const std::vector<ModuleRecord>& records, const std::vector<WrittenBlame>&) {
            std::lock_guard<std::mutex> hold(lock);
            for (const ModuleRecord& record : records)
                seen[Utf8(record.result.path)]++;
        });
        std::thread one([&] {
            for (int i = 0; i < 20; i++)
                writer.Add(Record(L"C:\\P\\One" + std::to_wstring(i) + L".dll"));
        });
        std::thread two([&] {
            for (int i = 0; i < 20; i++)
                writer.Add(Record(L"C:\\P\\Two" + std::to_wstring(i) + L".dll", Status::failed));
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

TEST(ResultWriter, CrashFoundLaterIsWrittenWithTheEntryBeforeAndAfter)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    std::vector<WrittenBlame> blames;
    {
        ResultWriter writer(db, [&](const std::vector<ModuleRecord>&, const std::vector<WrittenBlame>& written) {
            blames.insert(blames.end(), written.begin(), written.end());
        });
        writer.Add(Record(L"C:\\P\\Leaver.dll"));
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
    EXPECT_EQ(blames[0].after->dump, "C:\\dumps\\server-1\\a.mdmp");
    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["status"], "crashed");
    EXPECT_EQ(module["error"], "a thread it left running crashed the server during a later request");
}

TEST(ResultWriter, DatabaseThatCannotBeWrittenGivesTheErrorAndNothingMoreIsWritten)
{
    ScratchFolder folder;
    MakeFolder(folder / L"sub");
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"sub\\plugins.json", &error)) << error;
    ASSERT_TRUE(RemoveDirectoryW((folder / L"sub").c_str()));
    int writes = 0;
    ResultWriter writer(db, [&](const std::vector<ModuleRecord>&, const std::vector<WrittenBlame>&) { writes++; });
    writer.Add(Record(L"C:\\P\\A.dll"));
    for (int i = 0; i < 2000 && writer.Error().empty(); i++)
        Sleep(5);
    const std::string expected = "cannot create " + Utf8(folder / L"sub\\plugins.json.tmp") + " (";
    EXPECT_EQ(writer.Error().rfind(expected, 0), 0u) << writer.Error();
    // The folder is back, but the run is ending: later modules are dropped.
    MakeFolder(folder / L"sub");
    writer.Add(Record(L"C:\\P\\B.dll"));
    std::string finished = writer.Finish();
    EXPECT_EQ(finished.rfind(expected, 0), 0u) << finished;
    EXPECT_EQ(writes, 0);
    EXPECT_FALSE(Exists(folder / L"sub\\plugins.json"));
}
