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
    // The DLLs it imports, then those it delay-loads, as named in the file,
    // each once (compared ignoring ASCII letter case). An import directory
    // that points outside the file, or a name without its end, is left out.
    std::vector<std::string> imports;
};

// Reads the DOS header ("MZ", e_lfanew), the "PE\0\0" signature and the
// COFF header; with withImports also the optional header, the section table
// and the import and delay-load directories of a PE32+ image.
ModuleImage ReadModuleImage(const std::wstring& path, bool withImports);

} // namespace orvanta
