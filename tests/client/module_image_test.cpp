// A module file's PE headers read before any server sees it: the machine,
// the imported DLLs, and files that are not images at all or lie about
// their offsets. Each file is written to a scratch folder byte by byte.
#include "build_paths.h"
#include "load_problem.h"
#include "module_image.h"
#include "scratch_folder.h"
#include <gtest/gtest.h>
#include <algorithm>
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

TEST(ModuleImage, TextFileIsNotAnImage)
{
    ModuleImage image = ReadBytes("not a module");
    EXPECT_EQ(image.kind, ModuleImage::Kind::notImage);
    EXPECT_EQ(image.reason, "not a PE image: no MZ header");
}

TEST(ModuleImage, DosHeaderCutOffBeforeItsPeOffsetIsNotAnImage)
{
    ModuleImage image = ReadBytes(std::string("MZ\x90\0\3\0", 6));
    EXPECT_EQ(image.kind, ModuleImage::Kind::notImage);
    EXPECT_EQ(image.reason, "not a PE image: its PE header lies outside the file");
}

TEST(ModuleImage, PeOffsetPastTheEndIsNotAnImage)
{
    std::string bytes = PeHeaders(0, 0);
    Put32(bytes, 0x3C, 0xFFFFFFF0);
    ModuleImage image = ReadBytes(bytes);
    EXPECT_EQ(image.kind, ModuleImage::Kind::notImage);
    EXPECT_EQ(image.reason, "not a PE image: its PE header lies outside the file");
}

TEST(ModuleImage, WrongSignatureIsNotAnImage)
{
    std::string bytes = PeHeaders(0, 0);
    bytes[0x41] = 'X';
    ModuleImage image = ReadBytes(bytes);
    EXPECT_EQ(image.kind, ModuleImage::Kind::notImage);
    EXPECT_EQ(image.reason, "not a PE image: no PE signature");
}

TEST(ModuleImage, CoffHeaderCutOffIsNotAnImage)
{
    ModuleImage image = ReadBytes(PeHeaders(0, 0).substr(0, 0x50));
    EXPECT_EQ(image.kind, ModuleImage::Kind::notImage);
    EXPECT_EQ(image.reason, "not a PE image: its COFF header is cut off");
}

TEST(ModuleImage, MissingFileIsUnreadable)
{
    ScratchFolder scratch;
    ModuleImage image = ReadModuleImage(scratch / L"none.dll", true);
    EXPECT_EQ(image.kind, ModuleImage::Kind::unreadable);
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

TEST(ModuleImage, ImportDirectoryOutsideTheFileGivesNoImports)
{
    // The section's data would start at 0x10000, far past the file's end.
    ModuleImage image = ReadBytes(PeHeaders(0x1000, 0x10000));
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.machine, 0x8664);
    EXPECT_EQ(image.imports, std::vector<std::string>{});
}

TEST(ModuleImage, ImportNameOutsideEverySectionIsLeftOut)
{
    ModuleImage image = ReadBytes(PeWithImport(0x90000));
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.imports, std::vector<std::string>{});
}

TEST(ModuleImage, ImportNameWithoutItsEndIsLeftOut)
{
    std::string bytes = PeWithImport(0x1100);
    bytes.resize(0x303); // "one" and the file ends
    ModuleImage image = ReadBytes(bytes);
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.imports, std::vector<std::string>{});
}

TEST(ModuleImage, ThirtyTwoBitFixtureIsBuiltForX86)
{
    ModuleImage image = ReadModuleImage(FixturePath(L"Client32Bit"), false);
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.machine, 0x014C);
}

TEST(ModuleImage, MissingDependencyFixtureImportsOrvantaMissingDep)
{
    ModuleImage image = ReadModuleImage(FixturePath(L"ClientMissingDep"), true);
    EXPECT_EQ(image.kind, ModuleImage::Kind::image);
    EXPECT_EQ(image.machine, 0x8664);
    EXPECT_NE(std::find(image.imports.begin(), image.imports.end(), "OrvantaMissingDep.dll"), image.imports.end());
}

TEST(LoadProblemText, X86ModuleIsThirtyTwoBit)
{
    EXPECT_EQ(WrongMachineText(0x014C), "32-bit module: built for x86; only 64-bit (x64) modules can be loaded");
}

TEST(LoadProblemText, Arm64ModuleIsNamedAsSuch)
{
    EXPECT_EQ(WrongMachineText(0xAA64), "ARM64 module: built for 64-bit ARM; only 64-bit (x64) modules can be loaded");
}

TEST(LoadProblemText, ArmModuleIsNamedAsSuch)
{
    EXPECT_EQ(WrongMachineText(0x01C4), "ARM module: built for 32-bit ARM; only 64-bit (x64) modules can be loaded");
}

TEST(LoadProblemText, OtherMachineIsGivenByNumber)
{
    EXPECT_EQ(WrongMachineText(0x0200),
              "module for another machine: built for machine type 0x0200; only 64-bit (x64) modules can be loaded");
}

TEST(LoadProblemText, X64ModuleHasNoProblem)
{
    EXPECT_EQ(WrongMachineText(0x8664), "");
}

TEST(LoadProblemText, OneMissingDllIsNamed)
{
    EXPECT_EQ(NotFoundText({"a.dll"}), "needs a.dll, not found");
}

TEST(LoadProblemText, TwoMissingDllsAreJoinedWithAnd)
{
    EXPECT_EQ(NotFoundText({"a.dll", "b.dll"}), "needs a.dll and b.dll, not found");
}

TEST(LoadProblemText, ThreeMissingDllsAreAllNamed)
{
    EXPECT_EQ(NotFoundText({"a.dll", "b.dll", "c.dll"}), "needs a.dll, b.dll and c.dll, not found");
}

TEST(LoadProblemText, MoreThanThreeMissingDllsAreCounted)
{
    EXPECT_EQ(NotFoundText({"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"}),
              "needs a.dll, b.dll, c.dll and 2 more, not found");
}

TEST(DependencySearch, ApiSetNamesCountAsPresent)
{
    EXPECT_TRUE(IsApiSetName("api-ms-win-crt-runtime-l1-1-0.dll"));
    EXPECT_TRUE(IsApiSetName("EXT-MS-WIN-ntuser-window-l1-1-0.dll"));
}

TEST(DependencySearch, OrdinaryNameIsNoApiSet)
{
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
