// The minidump reader on files that are not whole dumps: each is refused
// with its reason, and nothing is read past the file's end.
#include "server_process/crash_dump_reader.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

std::string ErrorFor(const std::string& bytes, orvanta::CrashInfo* info)
{
    ScratchFolder scratch;
    std::wstring path = scratch.Write(L"broken.mdmp", bytes);
    std::string error;
    EXPECT_FALSE(orvanta::ReadCrashDump(path, info, &error));
    return error;
}

// A header of the given stream count and directory offset.
std::string Header(uint32_t streams, uint32_t directory)
{
    std::string h("MDMP\x93\xA7\x00\x00", 8);
    h.append((const char*)&streams, 4);
    h.append((const char*)&directory, 4);
    h.append(16, '\0');
    return h;
}

TEST(CrashDumpReader, MissingFileIsRefused)
{
    orvanta::CrashInfo info;
    std::string error;
    EXPECT_FALSE(orvanta::ReadCrashDump(L"C:\\no\\such\\dump.mdmp", &info, &error));
    EXPECT_EQ(error, "cannot open the dump (error 3)");
}

TEST(CrashDumpReader, FileWithoutSignatureIsRefused)
{
    orvanta::CrashInfo info;
    EXPECT_EQ(ErrorFor("MZ this is no dump at all, but long enough", &info),
              "not a minidump (no MDMP signature)");
    EXPECT_EQ(info.exceptionCode, 0u);
}

TEST(CrashDumpReader, DirectoryPastTheEndIsRefused)
{
    orvanta::CrashInfo info;
    EXPECT_EQ(ErrorFor(Header(8, 32), &info), "minidump stream directory outside the file");
}

TEST(CrashDumpReader, DumpWithoutExceptionStreamIsRefused)
{
    std::string dump = Header(1, 32);
    uint32_t entry[3] = {7, 0, 0}; // a system-info stream of no size
    dump.append((const char*)entry, sizeof entry);
    orvanta::CrashInfo info;
    EXPECT_EQ(ErrorFor(dump, &info), "minidump has no exception stream");
}

TEST(CrashDumpReader, ExceptionStreamPastTheEndIsRefused)
{
    std::string dump = Header(1, 32);
    uint32_t entry[3] = {6, 168, 44};
    dump.append((const char*)entry, sizeof entry);
    dump.append(8, '\0');
    orvanta::CrashInfo info;
    EXPECT_EQ(ErrorFor(dump, &info), "minidump exception stream cut short");
}

TEST(CrashDumpReader, ExceptionWithoutModuleListGivesNoModule)
{
    std::string dump = Header(1, 32);
    uint32_t entry[3] = {6, 32, 44};
    dump.append((const char*)entry, sizeof entry);
    uint32_t stream[8] = {1234, 0, 0xC0000094, 0, 0, 0, 0x89ABCDEF, 0x7FF6};
    dump.append((const char*)stream, sizeof stream);
    ScratchFolder scratch;
    std::wstring path = scratch.Write(L"small.mdmp", dump);
    orvanta::CrashInfo info;
    std::string error;
    ASSERT_TRUE(orvanta::ReadCrashDump(path, &info, &error)) << error;
    EXPECT_EQ(info.exceptionCode, 0xC0000094u);
    EXPECT_EQ(info.address, 0x00007FF689ABCDEFull);
    EXPECT_EQ(info.faultingModule, "");
    EXPECT_EQ(info.dumpPath, Utf8(path));
}

} // namespace
