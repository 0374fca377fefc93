// One rule for module paths everywhere: made full, then compared ordinally
// without regard to letter case.
#include <orvanta/paths.h>
#include <gtest/gtest.h>

using namespace orvanta;

// Before the rule was one, the database keyed this pair apart (letter case
// only) while the crash blame took it for one module (full path, then
// ordinal case-insensitive): a blamed crash made a second entry.
TEST(Paths, SpellingsOfOneModuleAreTheSamePathAndKey)
{
    EXPECT_TRUE(SamePath(L"C:\\Plugins\\Leaver.dll", L"c:/plugins/LEAVER.DLL"));
    EXPECT_EQ(PathKey(L"C:\\Plugins\\Leaver.dll"), PathKey(L"c:/plugins/LEAVER.DLL"));
    EXPECT_EQ(PathKey(L"C:\\Plugins\\.\\Sub\\..\\Leaver.dll"), L"C:\\PLUGINS\\LEAVER.DLL");
    EXPECT_TRUE(SamePath(L"C:\\Plugins\\Ärger.dll", L"C:\\PLUGINS\\ärger.dll"));
    EXPECT_FALSE(SamePath(L"C:\\Plugins\\A.dll", L"C:\\Plugins\\A.dll.bak"));
}

TEST(Paths, FullPathDropsTrailingBackslashesButKeepsTheRoot)
{
    EXPECT_EQ(FullPath(L"C:\\Plugins\\\\"), L"C:\\Plugins");
    EXPECT_EQ(FullPath(L"C:/Plugins/Sub/"), L"C:\\Plugins\\Sub");
    EXPECT_EQ(FullPath(L"C:\\"), L"C:\\");
    EXPECT_EQ(FullPath(L""), L"");
}

TEST(Paths, IsUnderTakesWholeFolderNamesOnly)
{
    EXPECT_TRUE(IsUnder(L"C:\\Plugins\\Sub\\A.dll", L"c:\\plugins"));
    EXPECT_TRUE(IsUnder(L"C:\\Plugins", L"C:\\Plugins\\"));
    EXPECT_TRUE(IsUnder(L"C:\\Plugins\\A.dll", L"C:\\"));
    EXPECT_FALSE(IsUnder(L"C:\\PluginsOld\\A.dll", L"C:\\Plugins"));
    EXPECT_FALSE(IsUnder(L"C:\\Plugins\\A.dll", L""));
}

TEST(Paths, FolderAndNameOfAPath)
{
    EXPECT_EQ(FolderOf(L"C:\\Plugins\\A.dll"), L"C:\\Plugins");
    EXPECT_EQ(FileNameOf(L"C:\\Plugins/A.dll"), L"A.dll");
    EXPECT_EQ(FolderOf(L"A.dll"), L".");
    EXPECT_EQ(FileNameOf(L"A.dll"), L"A.dll");
}
