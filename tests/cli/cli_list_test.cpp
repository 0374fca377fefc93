// orvanta-scan --list: the database's products, one a line, from a file
// written here and from a real scan of the DPF plugin's VST 2 and VST3
// builds; nothing scanned, nothing written.
#include "build_paths.h"
#include "cli_support.h"
#include "environment.h"
#include "files.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <gtest/gtest.h>
#include <optional>

using namespace testsupport;
using clitest::RunTool;

namespace {

// A plugin alone, a VST3 class that declares the VST 2 plugin it replaces,
// and one plugin in two formats known only by vendor and name.
const char* const Database = R"({"format": 2, "server": "", "modules": [
  {"path": "C:\\P\\Echo.dll", "format": "vst2", "size": 1, "modified": "x", "status": "ok", "plugins": [
    {"id": "4563686F", "shellId": null, "status": "ok", "name": "Echo", "vendor": "Zandrel Software", "category": 1}]},
  {"path": "C:\\P\\Echo.vst3", "format": "vst3", "size": 1, "modified": "x", "status": "ok", "plugins": [
    {"id": "0123456789ABCDEF0123456789ABCD01", "status": "ok", "category": "Audio Module Class",
     "name": "ECHO", "vendor": "zandrel software"}]},
  {"path": "C:\\P\\Gain.dll", "format": "vst2", "size": 1, "modified": "x", "status": "ok", "plugins": [
    {"id": "5A47616E", "shellId": null, "status": "ok", "name": "ZGain", "vendor": "Zandrel Software", "category": 1}]},
  {"path": "C:\\P\\Gain.vst3", "format": "vst3", "size": 1, "modified": "x", "status": "ok", "plugins": [
    {"id": "0123456789ABCDEF0123456789ABCD02", "status": "ok", "category": "Audio Module Class",
     "name": "Zandrel Gain", "vendor": "Zandrel Software",
     "replaces": [{"format": "vst2", "id": "5A47616E", "declaredBy": "moduleinfo.json"}]}]},
  {"path": "C:\\P\\Tone.dll", "format": "vst2", "size": 1, "modified": "x", "status": "ok", "plugins": [
    {"id": "546F6E65", "shellId": null, "status": "ok", "name": "Tone", "vendor": "Acme", "category": 2}]}]})";

struct Listing
{
    const char* name;
    std::optional<std::string> file; // the database's bytes; none: no file
    bool named;                      // given with --db, else at the per-user place
    unsigned exitCode;
    std::string out, err;            // err: "PATH" stands for the database's path
};

void PrintTo(const Listing& l, std::ostream* out)
{
    *out << l.name;
}

class ListOption : public ::testing::TestWithParam<Listing>
{
};

TEST_P(ListOption, PrintsTheProductsAndLeavesTheFileAlone)
{
    const Listing& l = GetParam();
    ScratchFolder scratch;
    ScopedEnvironment environment;
    environment.Set(L"LOCALAPPDATA", scratch / L"local");
    std::wstring db = l.named ? scratch / L"plugins.json" : scratch / L"local\\Orvanta\\orvanta-plugins.json";
    if (l.file)
    {
        if (!l.named)
            MakeFolders(scratch / L"local\\Orvanta");
        WriteWholeFile(db, *l.file);
    }
    std::vector<std::wstring> args = {L"--list"};
    if (l.named)
        args.insert(args.end(), {L"--db", db});
    ProcessRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, l.exitCode) << run.out << run.err;
    EXPECT_EQ(run.out, l.out);
    std::string err = l.err;
    if (err.find("PATH") != std::string::npos)
        err.replace(err.find("PATH"), 4, Utf8(db));
    EXPECT_EQ(run.err, err);
    if (l.file)
        EXPECT_EQ(ReadWholeFile(db), *l.file);
    else
        EXPECT_FALSE(Exists(scratch / L"local\\Orvanta"));
}

INSTANTIATE_TEST_SUITE_P(
    Databases, ListOption,
    ::testing::Values(
        Listing{"Written", std::string(Database), true, 0,
                "Tone (Acme): vst2\n"
                "ECHO (zandrel software): vst3, vst2 [guessed]\n"
                "Zandrel Gain (Zandrel Software): vst3, vst2 [declared]\n",
                ""},
        Listing{"AtThePerUserPlace", std::string(Database), false, 0,
                "Tone (Acme): vst2\n"
                "ECHO (zandrel software): vst3, vst2 [guessed]\n"
                "Zandrel Gain (Zandrel Software): vst3, vst2 [declared]\n",
                ""},
        Listing{"NotThereYet", std::nullopt, false, 0, "", ""},
        Listing{"NotADatabase", std::string("{\"format\": 2, \"modules\": ["), true, 2, "",
                "orvanta-scan: the database PATH is not readable, so it is left as it is: it is not valid JSON\n"}),
    [](const ::testing::TestParamInfo<Listing>& info) { return std::string(info.param.name); });

// DPF gives its VST 2 and VST3 builds the same name and brand, and the VST3
// bundle declares nothing: one product, joined by the guess.
TEST(ListOption, DpfPluginIsOneProductInBothFormats)
{
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    ProcessRun scan = RunTool({L"--db", db, L"--formats", L"vst2,vst3", L"--quiet", BinPath(L"dpf")});
    ASSERT_EQ(scan.exitCode, 0u) << scan.out << scan.err;
    ProcessRun list = RunTool({L"--list", L"--db", db});
    EXPECT_EQ(list.exitCode, 0u) << list.err;
    EXPECT_EQ(list.out, "Orvanta DPF Gain (Zandrel Software): vst3, vst2 [guessed]\n");
}

} // namespace
