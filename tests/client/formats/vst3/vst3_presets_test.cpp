// VST3 presets read from real files: .vstpreset files written byte by byte
// (good ones, cut ones, malformed ones, their metadata XML), the preset
// folders from the environment, the presets of a module found in them and
// in a copy of a fixture bundle, and the stamps that tell a folder changed.
#include "build_paths.h"
#include "environment.h"
#include "files.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include "discovery/location_stamp.h"
#include "formats/vst3/vst3_presets.h"
#include <orvanta/module_info.h>
#include <orvanta/paths.h>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>

using namespace orvanta;
using namespace testsupport;

namespace {

std::string Le(uint64_t value, int bytes)
{
    return LittleEndian(value, bytes);
}

std::string PresetFile(const std::string& classId, const std::vector<std::pair<std::string, std::string>>& chunks,
                       uint32_t version = 1)
{
    return Vst3PresetBytes(classId, chunks, version);
}

const std::string AraEffect = "4F415241454646454354000000000001";     // Vst3Ara's audio module class
const std::string AraController = "4F415241454646454354000000000003"; // and its controller
const std::string OtherEffect = "0123456789ABCDEF0123456789ABCDEF";   // Vst3Effect's
const uint64_t Jan2040 = 138534624000000000ull; // 2040-01-01T00:00:00Z as a file time
const uint64_t Second = 10000000;
const std::wstring PluginFolder = L"VST3 Presets\\Zandrel Software\\Orvanta ARA Effect";

// Comp "state" at 96, Info at 101 (21 bytes), 122 bytes in all.
const std::string Small = PresetFile(AraEffect, {{"Comp", "state"}, {"Info", "<MetaInfo></MetaInfo>"}});

Vst3PresetFile ReadBytes(const std::string& bytes)
{
    ScratchFolder scratch;
    return ReadVst3PresetFile(scratch.Write(L"p.vstpreset", bytes));
}

Vst3PresetFile ReadMetadata(const std::string& xml)
{
    return ReadBytes(PresetFile(AraEffect, {{"Info", xml}}));
}

std::string Patched(std::string bytes, size_t at, const std::string& with)
{
    return bytes.replace(at, with.size(), with);
}

void WritePreset(const std::wstring& path, const std::string& bytes, uint64_t written = Jan2040)
{
    MakeFolders(FolderOf(path));
    WriteWholeFile(path, bytes);
    SetLastWrite(path, written);
}

// Vst3Ara (an ARA effect "Orvanta ARA Effect" of "Zandrel Software", its
// ARA class and its controller) copied into scratch, listed from its
// moduleinfo.json.
ModuleResult AraModule(const ScratchFolder& scratch)
{
    std::wstring fixture = BinPath(L"vst3\\Vst3Ara.vst3");
    std::wstring bundle = MakeBundle(scratch.Path(), L"Vst3Ara.vst3",
                                     ReadWholeFile(fixture + L"\\Contents\\x86_64-win\\Vst3Ara.vst3"),
                                     ReadWholeFile(fixture + L"\\Contents\\Resources\\moduleinfo.json"));
    std::optional<ModuleResult> module = ModuleInfoResult(bundle);
    if (!module)
        throw std::runtime_error("the copy of Vst3Ara.vst3 does not list from its moduleinfo.json");
    return *module;
}

void PointFoldersAt(ScopedEnvironment& environment, const ScratchFolder& scratch)
{
    environment.Set(L"USERPROFILE", scratch / L"user");
    environment.Set(L"APPDATA", scratch / L"appdata");
    environment.Set(L"PROGRAMDATA", scratch / L"programdata");
}

std::string Relative(const std::wstring& path, const ScratchFolder& scratch)
{
    return path.compare(0, scratch.Path().size() + 1, scratch.Path() + L"\\") == 0
               ? Utf8(path.substr(scratch.Path().size() + 1))
               : "outside: " + Utf8(path);
}

std::vector<std::string> Relative(const std::vector<std::wstring>& paths, const ScratchFolder& scratch)
{
    std::vector<std::string> relative;
    for (const std::wstring& path : paths)
        relative.push_back(Relative(path, scratch));
    return relative;
}

} // namespace

TEST(Vst3PresetFile, GoodFileGivesItsClassVersionStatesAndMetadataInFileOrder)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n"
                      "\t<Attr id=\"MediaType\" value=\"VstPreset\" type=\"string\" flags=\"writeProtected\"/>\n"
                      "\t<Attr id=\"PlugInName\" value=\"Orvanta ARA Effect\" type=\"string\" flags=\"\"/>\n"
                      "\t<Attr id=\"MusicalCategory\" value=\"Bass|Synth\" type=\"string\" flags=\"\"/>\n"
                      "</MetaInfo>\n";
    Vst3PresetFile file = ReadBytes(
        PresetFile("4f415241454646454354000000000001", {{"Comp", "compstate"}, {"Cont", "ctrl"}, {"Info", xml}}));
    EXPECT_TRUE(file.ok);
    EXPECT_EQ(file.problem, "");
    EXPECT_EQ(file.classId, "4F415241454646454354000000000001");
    EXPECT_EQ(file.version, 1u);
    EXPECT_TRUE(file.componentState);
    EXPECT_TRUE(file.controllerState);
    EXPECT_EQ(file.attributes, (std::vector<std::pair<std::string, std::string>>{
                                   {"MediaType", "VstPreset"},
                                   {"PlugInName", "Orvanta ARA Effect"},
                                   {"MusicalCategory", "Bass|Synth"}}));
    EXPECT_EQ(file.findings, std::vector<std::string>{});
}

TEST(Vst3PresetFile, FileCutShortIsAProblemSayingWhere)
{
    const std::pair<size_t, std::string> rows[] = {
        {0, "cut short: 0 bytes, a header needs 48"},
        {30, "cut short: 30 bytes, a header needs 48"},
        {50, "chunk list at 48 lies outside the file (50 bytes)"},
        {70, "chunk list at 48 is cut short: its 2 entries end at 96, the file at 70"},
        {98, "chunk 'Comp' at 96 (5 bytes) lies outside the file (98 bytes)"},
        {110, "chunk 'Info' at 101 (21 bytes) lies outside the file (110 bytes)"}};
    for (const auto& row : rows)
    {
        Vst3PresetFile file = ReadBytes(Small.substr(0, row.first));
        EXPECT_FALSE(file.ok) << row.first;
        EXPECT_EQ(file.problem, row.second);
    }
}

TEST(Vst3PresetFile, MalformedStructureIsAProblemInWords)
{
    const std::pair<std::string, std::string> rows[] = {
        {"VST2" + Small.substr(4), "not a VST3 preset (no 'VST3' at its start)"},
        {"<?xml version=\"1.0\"?><MetaInfo/>", "not a VST3 preset (no 'VST3' at its start)"},
        {"VS", "cut short: 2 bytes, a header needs 48"},
        {Patched(Small, 39, "Z"), "class ID is not 32 hexadecimal digits"},
        {Patched(Small, 40, Le(4096, 8)), "chunk list at 4096 lies outside the file (122 bytes)"},
        {Patched(Small, 48, "Lixt"), "no chunk list at 48 (no 'List' there)"},
        {Patched(Small, 52, Le(5000, 4)), "chunk list at 48 names 5000 chunks, more than 1024"},
        {Patched(Patched(Small, 60, Le(0xFFFFFFFFFFFFFFF0ull, 8)), 68, Le(32, 8)),
         "chunk 'Comp' at 18446744073709551600 (32 bytes) lies outside the file (122 bytes)"},
        {Patched(Patched(Small, 56, std::string("I\x01\0f", 4)), 60, Le(500, 8)),
         "chunk 'I\\x01\\x00f' at 500 (5 bytes) lies outside the file (122 bytes)"}};
    for (const auto& row : rows)
    {
        Vst3PresetFile file = ReadBytes(row.first);
        EXPECT_FALSE(file.ok) << row.second;
        EXPECT_EQ(file.problem, row.second);
    }
}

TEST(Vst3PresetFile, MalformedMetadataIsAFindingAndTheFileStaysUsable)
{
    const std::pair<std::string, std::string> rows[] = {
        {"<MetaInfo><Attr id=\"a\" value=\"1\"/>", "<MetaInfo> is never closed"},
        {"<MetaInfo><Attr id=\"a\" value=\"1\"></MetaInfo>", "</MetaInfo> at byte 33 closes <Attr>"},
        {"<MetaInfo><Attr id=\"a\" value=1/></MetaInfo>", "the value of attribute 'value' at byte 23 is not quoted"},
        {"<MetaInfo><Attr id=\"a\" value=\"&nbsp;\"/></MetaInfo>", "unknown entity '&nbsp;' at byte 30"},
        {"<MetaInfo><Attr id=\"a\" value=\"x & y\"/></MetaInfo>", "a '&' that starts no entity at byte 32"},
        {"<MetaInfo><Attr id=\"a\" value=\"&#0;\"/></MetaInfo>", "unknown entity '&#0;' at byte 30"},
        {"<MetaInfo/><MetaInfo/>", "a second root element <MetaInfo> at byte 11"},
        {"<MetaInfo><!-- note</MetaInfo>", "a comment at byte 10 that never ends"},
        {"", "it holds no element"}};
    for (const auto& row : rows)
    {
        Vst3PresetFile file = ReadMetadata(row.first);
        EXPECT_TRUE(file.ok) << row.first;
        EXPECT_EQ(file.attributes.size(), 0u) << row.first;
        EXPECT_EQ(file.findings, std::vector<std::string>{"metadata is not well-formed XML (" + row.second +
                                                          "); its attributes are left out"});
    }
}

TEST(Vst3PresetFile, EntitiesAreDecodedAndUtf8IsKept)
{
    Vst3PresetFile file = ReadMetadata("<MetaInfo><Attr id=\"Comment\" value=\"a &amp; b &lt;c&gt; &quot;d&quot; "
                                       "&apos;e&apos; &#233;&#x4E2D;\"/><Attr id=\"Author\" "
                                       "value=\"J\xC3\xBCrgen \xE6\x9D\xB1\xE4\xBA\xAC\"/></MetaInfo>");
    EXPECT_EQ(file.findings, std::vector<std::string>{});
    EXPECT_EQ(file.attributes, (std::vector<std::pair<std::string, std::string>>{
                                   {"Comment", "a & b <c> \"d\" 'e' \xC3\xA9\xE4\xB8\xAD"},
                                   {"Author", "J\xC3\xBCrgen \xE6\x9D\xB1\xE4\xBA\xAC"}}));
}

TEST(Vst3PresetFile, OnlyAttrElementsOfMetaInfoWithAnIdAreRead)
{
    Vst3PresetFile file = ReadMetadata("<?xml version=\"1.0\"?>\n<!-- by hand -->\n<!DOCTYPE Document [<!ENTITY x \"y\">]>\n"
                                       "<Document>\n  <Other><Attr id=\"Outside\" value=\"no\"/></Other>\n"
                                       "  <MetaInfo>\n    text between\n    <Attr value=\"no id\"/>\n"
                                       "    <Attr id='Single' value='quoted\nover two lines' flags=\"\"/>\n"
                                       "  </MetaInfo>\n</Document>\n");
    EXPECT_EQ(file.findings, std::vector<std::string>{});
    EXPECT_EQ(file.attributes,
              (std::vector<std::pair<std::string, std::string>>{{"Single", "quoted over two lines"}}));
}

TEST(Vst3PresetFile, MetadataOverTheLimitIsAFindingAndNotRead)
{
    Vst3PresetFile file = ReadMetadata("<MetaInfo>" + std::string(1048576 - 21, ' ') + "</MetaInfo>!");
    EXPECT_TRUE(file.ok);
    EXPECT_EQ(file.attributes.size(), 0u);
    EXPECT_EQ(file.findings,
              std::vector<std::string>{"metadata of 1048577 bytes is over the limit of 1048576; not read"});
}

TEST(Vst3PresetFolders, UserAppDataAndProgramDataFoldersComeInOrderThenTheBundles)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    std::wstring bundle = MakeBundle(scratch.Path(), L"Gain.vst3", std::string("MZ"));
    EXPECT_EQ(Relative(Vst3PresetFolders(bundle, "Zandrel Software", "Gain"), scratch),
              (std::vector<std::string>{"user\\Documents\\VST3 Presets\\Zandrel Software\\Gain",
                                        "appdata\\VST3 Presets\\Zandrel Software\\Gain",
                                        "programdata\\VST3 Presets\\Zandrel Software\\Gain",
                                        "Gain.vst3\\Contents\\Resources\\Presets"}));
}

TEST(Vst3PresetFolders, ForbiddenCharactersInVendorAndPluginNamesBecomeUnderscores)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    std::vector<std::wstring> folders = Vst3PresetFolders(L"", "A/B:C", "X*Y?<Z>|\\ \xC3\xA9");
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(Relative(folders[0], scratch), "user\\Documents\\VST3 Presets\\A_B_C\\X_Y__Z___ \xC3\xA9");
}

TEST(Vst3PresetFolders, UnsetVariableAndAModuleFileGiveNoFolder)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    environment.Set(L"APPDATA", std::nullopt);
    std::wstring single = scratch.Write(L"Gain.vst3", "MZ");
    EXPECT_EQ(Relative(Vst3PresetFolders(single, "Zandrel Software", "Gain"), scratch),
              (std::vector<std::string>{"user\\Documents\\VST3 Presets\\Zandrel Software\\Gain",
                                        "programdata\\VST3 Presets\\Zandrel Software\\Gain"}));
}

TEST(FindVst3Presets, PresetsOfTheUserAndMachineFoldersAreListedSortedWithTheirMetadataAndStamps)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    ModuleResult module = AraModule(scratch);
    std::wstring user = scratch / (L"user\\Documents\\" + PluginFolder), appdata = scratch / (L"appdata\\" + PluginFolder);
    WritePreset(user + L"\\Bass\\Deep.vstpreset",
                PresetFile("4f415241454646454354000000000001",
                           {{"Comp", "x"}, {"Info", "<MetaInfo><Attr id=\"PlugInName\" value=\"Deep\"/></MetaInfo>"}}));
    WritePreset(appdata + L"\\Airy.VSTPRESET", PresetFile(AraEffect, {{"Comp", "x"}}), Jan2040 + Second);
    WritePreset(appdata + L"\\notes.txt", "not a preset");

    Vst3Presets found = FindVst3Presets(module);
    EXPECT_EQ(found.findings, std::vector<std::string>{});
    ASSERT_EQ(found.presets.size(), 2u);
    const Preset& airy = found.presets[0];
    EXPECT_EQ(airy.name, "Airy");
    EXPECT_EQ(Relative(airy.file, scratch),
              "appdata\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect\\Airy.VSTPRESET");
    ASSERT_EQ(airy.plugins.size(), 1u);
    EXPECT_EQ(airy.plugins[0].abi, "vst3");
    EXPECT_EQ(airy.plugins[0].id, "4F415241454646454354000000000001");
    EXPECT_EQ(airy.extra.size(), 0u);
    EXPECT_EQ(airy.modified, 2208988801u);
    const Preset& deep = found.presets[1];
    EXPECT_EQ(deep.name, "Deep");
    EXPECT_EQ(Relative(deep.file, scratch),
              "user\\Documents\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect\\Bass\\Deep.vstpreset");
    EXPECT_EQ(deep.plugins[0].id, "4F415241454646454354000000000001");
    EXPECT_EQ(deep.extra, (std::vector<std::pair<std::string, std::string>>{{"PlugInName", "Deep"}}));
    EXPECT_EQ(deep.modified, 2208988800u);

    ASSERT_EQ(found.folders.size(), 4u);
    EXPECT_EQ(Relative(found.folders[0].folder, scratch),
              "user\\Documents\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect");
    EXPECT_EQ(found.folders[0].stamp, "1 file, newest 2040-01-01T00:00:00.000Z");
    EXPECT_EQ(Relative(found.folders[1].folder, scratch), "appdata\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect");
    EXPECT_EQ(found.folders[1].stamp, "2 files, newest 2040-01-01T00:00:01.000Z");
    EXPECT_EQ(Relative(found.folders[2].folder, scratch),
              "programdata\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect");
    EXPECT_EQ(found.folders[2].stamp, "");
    EXPECT_EQ(Relative(found.folders[3].folder, scratch), "Vst3Ara.vst3\\Contents\\Resources\\Presets");
    EXPECT_EQ(found.folders[3].stamp, "");
}

TEST(FindVst3Presets, BundlePresetsMayBeOfAnyClassOfTheModule)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    for (const wchar_t* name : {L"USERPROFILE", L"APPDATA", L"PROGRAMDATA"})
        environment.Set(name, std::nullopt);
    ModuleResult module = AraModule(scratch);
    std::wstring presets = scratch / L"Vst3Ara.vst3\\Contents\\Resources\\Presets";
    WritePreset(presets + L"\\Factory\\Warm.vstpreset", PresetFile(AraEffect, {{"Comp", "x"}}));
    WritePreset(presets + L"\\Editor.vstpreset", PresetFile(AraController, {{"Cont", "x"}}));
    WritePreset(presets + L"\\Stranger.vstpreset", PresetFile(OtherEffect, {{"Comp", "x"}}));

    Vst3Presets found = FindVst3Presets(module);
    ASSERT_EQ(found.presets.size(), 2u);
    EXPECT_EQ(Relative(found.presets[0].file, scratch), "Vst3Ara.vst3\\Contents\\Resources\\Presets\\Editor.vstpreset");
    EXPECT_EQ(found.presets[0].plugins[0].id, "4F415241454646454354000000000003");
    EXPECT_EQ(Relative(found.presets[1].file, scratch),
              "Vst3Ara.vst3\\Contents\\Resources\\Presets\\Factory\\Warm.vstpreset");
    EXPECT_EQ(found.findings, std::vector<std::string>{Utf8(presets) + "\\Stranger.vstpreset: class ID "
                                                                         "0123456789ABCDEF0123456789ABCDEF is not a "
                                                                         "class of this module"});
    ASSERT_EQ(found.folders.size(), 1u);
    EXPECT_EQ(found.folders[0].stamp, "3 files, newest 2040-01-01T00:00:00.000Z");
}

TEST(FindVst3Presets, FileOfAClassNotOfTheModuleInAPluginsFolderIsAFinding)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    ModuleResult module = AraModule(scratch);
    std::wstring folder = scratch / (L"programdata\\" + PluginFolder);
    WritePreset(folder + L"\\Borrowed.vstpreset", PresetFile(OtherEffect, {{"Comp", "x"}}));

    Vst3Presets found = FindVst3Presets(module);
    EXPECT_EQ(found.presets.size(), 0u);
    EXPECT_EQ(found.findings, std::vector<std::string>{Utf8(folder) + "\\Borrowed.vstpreset: class ID "
                                                                       "0123456789ABCDEF0123456789ABCDEF is not a "
                                                                       "class of this module"});
}

TEST(FindVst3Presets, MalformedFilesAreFindingsAndOnlyUnusableOnesAreLeftOut)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    ModuleResult module = AraModule(scratch);
    std::wstring folder = scratch / (L"appdata\\" + PluginFolder);
    WritePreset(folder + L"\\Broken.vstpreset", "<html>not a preset</html>");
    WritePreset(folder + L"\\Cut.vstpreset", Small.substr(0, 70));
    WritePreset(folder + L"\\Odd.vstpreset", PresetFile(AraEffect, {{"Info", "<MetaInfo>"}}));

    Vst3Presets found = FindVst3Presets(module);
    ASSERT_EQ(found.presets.size(), 1u);
    EXPECT_EQ(found.presets[0].name, "Odd");
    std::string where = Utf8(folder) + "\\";
    EXPECT_EQ(found.findings,
              (std::vector<std::string>{
                  where + "Broken.vstpreset: not a VST3 preset (no 'VST3' at its start)",
                  where + "Cut.vstpreset: chunk list at 48 is cut short: its 2 entries end at 96, the file at 70",
                  where + "Odd.vstpreset: metadata is not well-formed XML (<MetaInfo> is never closed); its "
                          "attributes are left out"}));
}

TEST(FindVst3Presets, FolderNamedByTwoVariablesIsLookedAtOnce)
{
    ScratchFolder scratch;
    ScopedEnvironment environment;
    PointFoldersAt(environment, scratch);
    environment.Set(L"PROGRAMDATA", scratch / L"appdata");
    ModuleResult module = AraModule(scratch);
    WritePreset(scratch / (L"appdata\\" + PluginFolder + L"\\Once.vstpreset"), PresetFile(AraEffect, {{"Comp", "x"}}));

    Vst3Presets found = FindVst3Presets(module);
    ASSERT_EQ(found.presets.size(), 1u);
    EXPECT_EQ(found.presets[0].name, "Once");
    std::vector<std::wstring> folders;
    for (const StampedLocation& location : found.folders)
        folders.push_back(location.folder);
    EXPECT_EQ(Relative(folders, scratch),
              (std::vector<std::string>{"user\\Documents\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect",
                                        "appdata\\VST3 Presets\\Zandrel Software\\Orvanta ARA Effect",
                                        "Vst3Ara.vst3\\Contents\\Resources\\Presets"}));
}

TEST(LocationStamp, AbsentFolderHasAnEmptyStamp)
{
    ScratchFolder scratch;
    EXPECT_EQ(LocationStamp(scratch / L"none"), "");
    EXPECT_EQ(LocationStamp(scratch.Write(L"a file", "x")), "");
}

TEST(LocationStamp, StampChangesWhenAFileIsAdded)
{
    ScratchFolder scratch;
    WritePreset(scratch / L"a.vstpreset", "a", Jan2040 + 2 * Second);
    std::string before = LocationStamp(scratch.Path());
    WritePreset(scratch / L"sub\\b.vstpreset", "b", Jan2040);
    EXPECT_EQ(before, "1 file, newest 2040-01-01T00:00:02.000Z");
    EXPECT_EQ(LocationStamp(scratch.Path()), "2 files, newest 2040-01-01T00:00:02.000Z");
}

TEST(LocationStamp, StampChangesWhenAFileIsTouched)
{
    ScratchFolder scratch;
    WritePreset(scratch / L"a.vstpreset", "a", Jan2040);
    WritePreset(scratch / L"sub\\b.vstpreset", "b", Jan2040 + Second);
    std::string before = LocationStamp(scratch.Path());
    SetLastWrite(scratch / L"a.vstpreset", Jan2040 + 5 * Second);
    EXPECT_EQ(before, "2 files, newest 2040-01-01T00:00:01.000Z");
    EXPECT_EQ(LocationStamp(scratch.Path()), "2 files, newest 2040-01-01T00:00:05.000Z");
}

TEST(LocationStamp, FilesMoreThanEightFoldersDownAreLeftOut)
{
    ScratchFolder scratch;
    WritePreset(scratch / L"1\\2\\3\\4\\5\\6\\7\\8\\in.vstpreset", "in", Jan2040);
    WritePreset(scratch / L"1\\2\\3\\4\\5\\6\\7\\8\\9\\out.vstpreset", "out", Jan2040 + Second);
    LocationWalk walk = WalkLocation(scratch.Path());
    EXPECT_TRUE(walk.tooDeep);
    ASSERT_EQ(walk.files.size(), 1u);
    EXPECT_EQ(Relative(walk.files[0].path, scratch), "1\\2\\3\\4\\5\\6\\7\\8\\in.vstpreset");
    EXPECT_EQ(LocationStamp(walk), "1 file, newest 2040-01-01T00:00:00.000Z");
}
