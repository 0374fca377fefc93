// What a module file's PE headers say before anything loads it: the machine
// it was built for and the DLLs it imports. Every offset in the file is
// checked against its size; only the bytes needed are read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

namespace machine {
constexpr uint16_t X64 = 0x8664;
constexpr uint16_t X86 = 0x014C;
constexpr uint16_t Arm64 = 0xAA64;
constexpr uint16_t Arm = 0x01C4;
constexpr uint16_t Arm64Ec = 0xA641; // not found in file headers, but named
} // namespace machine

struct ModuleImage
{
    enum class Kind
    {
        image,      // a PE image: machine (and imports, when asked) are read
        notImage,   // the file is readable but not a PE image
        unreadable, // the file cannot be opened or read
    };
    Kind kind = Kind::unreadable;
    std::string reason; // why it is not an image or cannot be read
    uint16_t machine = 0;
    // A PE32+ image whose load configuration carries hybrid (CHPE)
    // metadata: x64 in its header is ARM64EC code, ARM64 is ARM64X.
    bool hybrid = false;
    // The DLLs it imports, then those it delay-loads, as named in the file,
    // each once (compared ignoring ASCII letter case). An import directory
    // that points outside the file, or a name without its end, is left out.
    std::vector<std::string> imports;
};

// Reads the DOS header ("MZ", e_lfanew), the "PE\0\0" signature, the COFF
// header, the optional header, the section table and a PE32+ image's load
// configuration; with withImports also the import and delay-load
// directories.
ModuleImage ReadModuleImage(const std::wstring& path, bool withImports);

// The machine as the database names it: "x64", "x86", "arm64", "arm64ec",
// "arm64x", "arm", else "machine 0xNNNN"; "" when the file is no image.
std::string MachineName(const ModuleImage& image);

} // namespace orvanta
