// Finding the modules of every format on disk: VST 2 files, VST3 files and
// bundle folders (one module each, never searched inside), CLAP files, the formats a
// search is limited to, and when a bundle counts as changed.
#include "files.h"
#include "discovery/module_files.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <orvanta/database.h>
#include <gtest/gtest.h>
#include <windows.h>

using namespace orvanta;
using namespace testsupport;

namespace {

const uint64_t Dec8 = 134412108752500000ull; // 2026-12-08T13:41:15.250Z
const uint64_t Second = 10000000ull;

// The paths found, relative to the folder searched.
std::vector<std::string> Relative(const FoundModules& found, const std::wstring& folder)
{
    std::vector<std::string> paths;
    for (const ModuleFile& file : found.files)
        paths.push_back(Utf8(file.path.substr(folder.size() + 1)));
    return paths;
}

// A tree of every format: files at several depths and letter cases, bundles
// with and without a binary, things inside bundles that must never be
// found, and names that only look like modules.
void MakeMixedTree(const std::wstring& root)
{
    for (const wchar_t* folder : {L"Sub", L"Sub\\Deeper", L"Sub\\Folder.dll", L"Sub\\Folder.clap"})
        MakeFolders(root + L"\\" + folder);
    for (const wchar_t* file : {L"a.dll", L"B.DLL", L"Legacy.vst3", L"Sub\\c.Dll", L"Sub\\Deeper\\Old.VST3",
                                L"notes.txt", L"Sub\\e.dll.bak", L"Sub\\f.vst3.bak", L"vst3", L"Sub\\Folder.dll\\g.dll",
                                L"Gain.clap", L"Sub\\Deeper\\Synth.CLAP", L"Sub\\h.clap.bak", L"Sub\\Folder.clap\\i.Clap"})
        WriteWholeFile(root + L"\\" + file, "x");
    std::wstring gain = MakeBundle(root, L"Gain.vst3", std::string("MZ"), std::string("{}"));
    // Inside a bundle: a helper DLL, a bundle nested in it, a legacy file.
    WriteWholeFile(gain + L"\\Contents\\x86_64-win\\helper.dll", "x");
    WriteWholeFile(gain + L"\\Contents\\x86_64-win\\Gain.clap", "x");
    MakeBundle(gain + L"\\Contents", L"Inner.vst3", std::string("MZ"));
    WriteWholeFile(gain + L"\\Contents\\Resources\\Extra.vst3", "x");
    MakeBundle(root + L"\\Sub\\Deeper", L"Synth.Vst3", std::string("MZ"));
    MakeBundle(root + L"\\Sub", L"NoBinary.vst3", std::nullopt, std::string("{}"));
}

} // namespace

TEST(FindModules, EachFormatFindsItsFilesAndBundlesAndNeverLooksInsideABundle)
{
    ScratchFolder folder;
    MakeMixedTree(folder.Path());
    struct Row
    {
        std::vector<PluginFormat> formats;
        std::vector<std::string> found;
    };
    const Row rows[] = {
        {{PluginFormat::vst2, PluginFormat::vst3},
         {"a.dll", "B.DLL", "Gain.vst3", "Legacy.vst3", "Sub\\c.Dll", "Sub\\Deeper\\Old.VST3",
          "Sub\\Deeper\\Synth.Vst3", "Sub\\Folder.dll\\g.dll", "Sub\\NoBinary.vst3"}},
        {{PluginFormat::vst2}, {"a.dll", "B.DLL", "Sub\\c.Dll", "Sub\\Folder.dll\\g.dll"}},
        {{PluginFormat::vst3},
         {"Gain.vst3", "Legacy.vst3", "Sub\\Deeper\\Old.VST3", "Sub\\Deeper\\Synth.Vst3", "Sub\\NoBinary.vst3"}},
        {{PluginFormat::clap}, {"Gain.clap", "Sub\\Deeper\\Synth.CLAP", "Sub\\Folder.clap\\i.Clap"}},
        {{PluginFormat::vst2, PluginFormat::vst3, PluginFormat::clap},
         {"a.dll", "B.DLL", "Gain.clap", "Gain.vst3", "Legacy.vst3", "Sub\\c.Dll", "Sub\\Deeper\\Old.VST3",
          "Sub\\Deeper\\Synth.CLAP", "Sub\\Deeper\\Synth.Vst3", "Sub\\Folder.clap\\i.Clap",
          "Sub\\Folder.dll\\g.dll", "Sub\\NoBinary.vst3"}},
        {{}, {}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.formats.size() == 1 ? FormatName(row.formats[0]) : "formats: " + std::to_string(row.formats.size()));
        FoundModules found = FindModules({folder.Path()}, row.formats);
        EXPECT_EQ(Relative(found, folder.Path()), row.found);
        EXPECT_TRUE(found.errors.empty());
    }
}

TEST(FindModules, BundleHasItsBinarysSizeAndTheNewestWriteOfAnyOfItsFiles)
{
    ScratchFolder folder;
    std::wstring bundle = MakeBundle(folder.Path(), L"Gain.vst3", std::string("12345"), std::string("{}"));
    SetLastWrite(bundle + L"\\Contents\\x86_64-win\\Gain.vst3", Dec8);
    SetLastWrite(bundle + L"\\Contents\\Resources\\moduleinfo.json", Dec8 + 3 * Second);
    std::wstring empty = MakeBundle(folder.Path(), L"Empty.vst3", std::nullopt);
    WriteWholeFile(empty + L"\\Contents\\Info.plist", "<plist/>");
    SetLastWrite(empty + L"\\Contents\\Info.plist", Dec8 + Second);

    FoundModules found = FindModules({folder.Path()});
    ASSERT_EQ(found.files.size(), 2u);
    // A bundle without its binary is still a module, of size 0: its scan
    // says what is wrong with it.
    EXPECT_EQ(Utf8(found.files[0].path), Utf8(empty));
    EXPECT_EQ(found.files[0].size, 0u);
    EXPECT_EQ(found.files[0].modified, "2026-12-08T13:41:16.250Z");
    EXPECT_EQ(Utf8(found.files[1].path), Utf8(bundle));
    EXPECT_EQ(found.files[1].size, 5u);
    EXPECT_EQ(found.files[1].modified, "2026-12-08T13:41:18.250Z");

    ModuleFile stat;
    ASSERT_TRUE(StatModuleFile(bundle, &stat));
    EXPECT_EQ(stat.size, 5u);
    EXPECT_EQ(stat.modified, "2026-12-08T13:41:18.250Z");
}

TEST(FindModules, NamedBundleIsOneModuleSpeltAsOnDiskAndOnlyWhenVst3IsAsked)
{
    ScratchFolder folder;
    std::wstring bundle = MakeBundle(folder.Path(), L"Gain.vst3", std::string("MZ"));
    WriteWholeFile(folder / L"a.dll", "x");
    std::string base = Utf8(folder.Path());

    FoundModules both = FindModules({folder / L"GAIN.VST3", folder / L"a.dll"});
    ASSERT_EQ(both.files.size(), 2u);
    EXPECT_EQ(Utf8(both.files[0].path), base + "\\a.dll");
    EXPECT_EQ(Utf8(both.files[1].path), base + "\\Gain.vst3");
    EXPECT_EQ(both.files[1].size, 2u);

    FoundModules vst2 = FindModules({bundle, folder / L"a.dll"}, {PluginFormat::vst2});
    ASSERT_EQ(vst2.files.size(), 1u);
    EXPECT_EQ(Utf8(vst2.files[0].path), base + "\\a.dll");
    // Both were searched, though only one was taken.
    EXPECT_EQ(vst2.roots.size(), 2u);
}
