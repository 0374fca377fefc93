// A module file's PE headers read before any server sees it: the machine,
// the imported DLLs, and files that are not images at all or lie about
// their offsets. Each file is written to a scratch folder byte by byte.
#include "build_paths.h"
#include "discovery/load_problem.h"
#include "discovery/module_image.h"
#include "scratch_folder.h"
#include <gtest/gtest.h>
#include <cstring>

using namespace orvanta;
using namespace testsupport;

namespace {

void Put16(std::string& bytes, size_t at, uint16_t value)
{
    std::memcpy(&bytes[at], &value, 2);
}

void Put32(std::string& bytes, size_t at, uint32_t value)
{
    std::memcpy(&bytes[at], &value, 4);
}

// The headers of an x64 PE32+ image, 0x170 bytes: "MZ", the PE header at
// 0x40, its import directory at importRva and one section mapping
// 0x1000..0x1FFF to the file's bytes from rawOffset (0x200 of them).
std::string PeHeaders(uint32_t importRva, uint32_t rawOffset)
{
    std::string bytes(0x170, '\0');
    bytes.replace(0, 2, "MZ");
    Put32(bytes, 0x3C, 0x40);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    Put16(bytes, 0x44, 0x8664);  // machine
    Put16(bytes, 0x46, 1);       // sections
    Put16(bytes, 0x54, 0xF0);    // size of the optional header
    Put16(bytes, 0x58, 0x20B);   // PE32+
    Put32(bytes, 0x58 + 108, 16); // data directories
    Put32(bytes, 0x58 + 112 + 8, importRva);
    Put32(bytes, 0x58 + 112 + 12, 40);
    size_t section = 0x58 + 0xF0;
    bytes.replace(section, 5, ".data");
    Put32(bytes, section + 8, 0x1000);  // virtual size
    Put32(bytes, section + 12, 0x1000); // virtual address
    Put32(bytes, section + 16, 0x200);  // raw size
    Put32(bytes, section + 20, rawOffset);
    return bytes;
}

// PeHeaders with the section's data at 0x200: one import descriptor at
// 0x1000 whose name is at nameRva, "one.dll" at 0x1100.
std::string PeWithImport(uint32_t nameRva)
{
    std::string bytes = PeHeaders(0x1000, 0x200);
    bytes.resize(0x400, '\0');
    Put32(bytes, 0x200 + 12, nameRva);
    bytes.replace(0x300, 8, std::string("one.dll\0", 8));
    return bytes;
}

ModuleImage ReadBytes(const std::string& bytes)
{
    ScratchFolder scratch;
    return ReadModuleImage(scratch.Write(L"module.dll", bytes), true);
}

} // namespace

// Each row a file that is not an image, told apart from one by the first
// header that does not hold.
TEST(ModuleImage, FilesThatAreNoImageSayWhichHeaderFails)
{
    std::string farOffset = PeHeaders(0, 0);
    Put32(farOffset, 0x3C, 0xFFFFFFF0);
    std::string badSignature = PeHeaders(0, 0);
    badSignature[0x41] = 'X';
    const struct
    {
        std::string bytes, reason;
    } rows[] = {
        {"not a module", "not a PE image: no MZ header"},
        {std::string("MZ\x90\0\3\0", 6), "not a PE image: its PE header lies outside the file"},
        {farOffset, "not a PE image: its PE header lies outside the file"},
        {badSignature, "not a PE image: no PE signature"},
        {PeHeaders(0, 0).substr(0, 0x50), "not a PE image: its COFF header is cut off"},
    };
    for (const auto& row : rows)
    {
        ModuleImage image = ReadBytes(row.bytes);
        EXPECT_EQ(image.kind, ModuleImage::Kind::notImage) << row.reason;
        EXPECT_EQ(image.reason, row.reason);
    }
    ScratchFolder scratch;
    EXPECT_EQ(ReadModuleImage(scratch / L"none.dll", true).kind, ModuleImage::Kind::unreadable);
}

TEST(ModuleImage, ImportedNamesAreReadFromTheImportDirectory)
{
    ModuleImage image = ReadBytes(PeWithImport(0x1100));
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.machine, 0x8664);
    EXPECT_EQ(image.imports, (std::vector<std::string>{"one.dll"}));
}

TEST(ModuleImage, DelayLoadedNamesFollowTheImportedOnes)
{
    std::string bytes = PeWithImport(0x1100);
    Put32(bytes, 0x58 + 112 + 13 * 8, 0x1040); // the delay-load directory
    Put32(bytes, 0x58 + 112 + 13 * 8 + 4, 64);
    Put32(bytes, 0x240, 1);          // attributes: addresses are RVAs
    Put32(bytes, 0x240 + 4, 0x1110); // the DLL's name
    bytes.replace(0x310, 8, std::string("two.dll\0", 8));
    ModuleImage image = ReadBytes(bytes);
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.imports, (std::vector<std::string>{"one.dll", "two.dll"}));
}

// An image whose import directory lies: still an x64 image, no names.
TEST(ModuleImage, ImportsThatPointOutsideTheFileAreLeftOut)
{
    std::string nameCutOff = PeWithImport(0x1100);
    nameCutOff.resize(0x303); // "one" and the file ends
    const struct
    {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"section data past the end", PeHeaders(0x1000, 0x10000)},
        {"name outside every section", PeWithImport(0x90000)},
        {"name without its end", nameCutOff},
    };
    for (const auto& row : rows)
    {
        ModuleImage image = ReadBytes(row.bytes);
        EXPECT_EQ(image.kind, ModuleImage::Kind::image) << row.what;
        EXPECT_EQ(image.machine, 0x8664) << row.what;
        EXPECT_EQ(image.imports, std::vector<std::string>{}) << row.what;
    }
}

TEST(LoadProblemText, WrongMachinesAreNamedAndX64HasNoProblem)
{
    const struct
    {
        uint16_t machine;
        const char* text;
    } rows[] = {
        {0x014C, "32-bit module: built for x86; only 64-bit (x64) modules can be loaded"},
        {0xAA64, "ARM64 module: built for 64-bit ARM; only 64-bit (x64) modules can be loaded"},
        {0x01C4, "ARM module: built for 32-bit ARM; only 64-bit (x64) modules can be loaded"},
        {0x0200, "module for another machine: built for machine type 0x0200; only 64-bit (x64) modules can be loaded"},
        {0x8664, ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WrongMachineText(row.machine), row.text) << row.machine;
}

TEST(LoadProblemText, WithA32BitServerX86HasNoProblemAndTheOthersSaySo)
{
    EXPECT_EQ(WrongMachineText(0x014C, true), "");
    EXPECT_EQ(WrongMachineText(0xAA64, true), "ARM64 module: built for 64-bit ARM; only x64 and x86 modules can be loaded");
    EXPECT_EQ(WrongMachineText(0x8664, true), "");
}

TEST(LoadProblemText, MissingDllsAreListedThenCounted)
{
    EXPECT_EQ(NotFoundText({"a.dll"}), "needs a.dll, not found");
    EXPECT_EQ(NotFoundText({"a.dll", "b.dll"}), "needs a.dll and b.dll, not found");
    EXPECT_EQ(NotFoundText({"a.dll", "b.dll", "c.dll"}), "needs a.dll, b.dll and c.dll, not found");
    EXPECT_EQ(NotFoundText({"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"}),
              "needs a.dll, b.dll, c.dll and 2 more, not found");
}

TEST(DependencySearch, ApiSetNamesCountAsPresentInAnyLetterCase)
{
    EXPECT_TRUE(IsApiSetName("api-ms-win-crt-runtime-l1-1-0.dll"));
    EXPECT_TRUE(IsApiSetName("EXT-MS-WIN-ntuser-window-l1-1-0.dll"));
    EXPECT_FALSE(IsApiSetName("libgcc_s_seh-1.dll"));
}

TEST(DependencySearch, DllFoundNowhereIsNamed)
{
    EXPECT_EQ(MissingDependencyText(FixturePath(L"ClientMissingDep")), "needs OrvantaMissingDep.dll, not found");
}

TEST(DependencySearch, DllBesideTheModuleIsFound)
{
    ScratchFolder scratch;
    std::wstring module = scratch.Copy(FixturePath(L"ClientMissingDep"), L"ClientMissingDep.dll");
    scratch.Copy(BinPath(L"missing-dep\\OrvantaMissingDep.dll"), L"OrvantaMissingDep.dll");
    EXPECT_EQ(MissingDependencyText(module), "");
}

// The machine the database records: the header's, told apart from hybrid
// code (ARM64EC behind an x64 header, ARM64X behind an ARM64 one) by the
// load configuration's CHPE metadata address.
TEST(ModuleImage, MachineNameComesFromTheHeaderAndTheHybridMetadata)
{
    const struct
    {
        uint16_t machine;
        uint64_t chpeMetadata; // 0: a load configuration without it
        const char* name;
    } rows[] = {
        {0x8664, 0, "x64"},           {0x8664, 0x180004000, "arm64ec"}, {0xAA64, 0, "arm64"},
        {0xAA64, 0x180004000, "arm64x"}, {0x014C, 0, "x86"},            {0x01C4, 0, "arm"},
        {0x0200, 0, "machine 0x0200"},
    };
    for (const auto& row : rows)
    {
        std::string bytes = PeHeaders(0, 0x200);
        bytes.resize(0x400, '\0');
        Put16(bytes, 0x44, row.machine);
        Put32(bytes, 0x58 + 112 + 80, 0x1000); // the load configuration, at the section's start
        Put32(bytes, 0x58 + 112 + 84, 0x140);
        Put32(bytes, 0x200, 0x140);            // its own size
        std::memcpy(&bytes[0x200 + 200], &row.chpeMetadata, 8);
        EXPECT_EQ(MachineName(ReadBytes(bytes)), row.name) << row.machine;
    }
    EXPECT_EQ(MachineName(ReadModuleImage(FixturePath(L"Client32Bit"), false)), "x86");
    EXPECT_EQ(MachineName(ReadBytes("not an image")), "");
}
