// What the server executable itself declares: a GUI program whose manifest
// asks for nothing, importing only system DLLs.
#include "machines.h"
#include "pipe_host.h"
#include <gtest/gtest.h>
#include <string>

using namespace testsupport;

namespace {

TEST(ServerBinary, ManifestIsAnEmptyAssembly)
{
    HMODULE image = LoadLibraryExW(ServerExePath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* bytes = (const char*)LockResource(LoadResource(image, found));
    std::string manifest(bytes, SizeofResource(image, found));
    EXPECT_NE(manifest.find("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
                            "manifestVersion=\"1.0\"/>"),
              std::string::npos)
        << manifest;
    for (const char* absent : {"dpiAware", "requestedExecutionLevel", "dependentAssembly"})
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(101), L"PNG"), nullptr);
    FreeLibrary(image);
}

// Mapped as an image for reading only, so a 32-bit server reads from this
// 64-bit test program too; the headers are PE32 or PE32+ by machine.
TEST(ServerBinary, GuiSubsystemAndOnlySystemImports)
{
    HMODULE image = LoadLibraryExW(ServerExePath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    // The low bits of such a handle mark how it was mapped.
    const BYTE* base = (const BYTE*)((uintptr_t)image & ~(uintptr_t)3);
    const IMAGE_NT_HEADERS32* nt =
        (const IMAGE_NT_HEADERS32*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, ServerTexts().imageMachine);
    IMAGE_DATA_DIRECTORY dir;
    if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    {
        const IMAGE_NT_HEADERS64* nt64 = (const IMAGE_NT_HEADERS64*)nt;
        EXPECT_EQ(nt64->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
        dir = nt64->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    }
    else
    {
        EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
        dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    }
    int count = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR* d = (const IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress);
         d->Name; d++, count++)
    {
        std::string name = (const char*)(base + d->Name);
        for (char& c : name)
            c = (char)tolower((unsigned char)c);
        EXPECT_EQ(name.find("libgcc"), std::string::npos) << name;
        EXPECT_EQ(name.find("libstdc++"), std::string::npos) << name;
        EXPECT_EQ(name.find("libwinpthread"), std::string::npos) << name;
    }
    EXPECT_GT(count, 0);
    FreeLibrary(image);
}

} // namespace
