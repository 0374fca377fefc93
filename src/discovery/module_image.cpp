// Reads a module's PE headers through bounds-checked reads at offsets: a
// truncated, foreign or hostile file gives "not a PE image" or a shorter
// import list, never a read outside the file.
#include "discovery/module_image.h"
#include "client/system_error.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <windows.h>

namespace orvanta {
namespace {

const size_t CoffHeaderSize = 20;
const size_t SectionHeaderSize = 40;
const size_t ImportDescriptorSize = 20;
const size_t DelayDescriptorSize = 32;
const uint16_t Pe32Magic = 0x10B;
const uint16_t Pe32PlusMagic = 0x20B;
const uint32_t ImportDirectory = 1;
const uint32_t DelayImportDirectory = 13;
const uint32_t LoadConfigDirectory = 10;
// In a PE32+ load configuration: its size first, and the address of the
// hybrid (CHPE) metadata that ARM64EC and ARM64X code carries.
const size_t ChpeMetadataAt = 200;
// Far more than any real module has; a bound for a directory whose end is
// missing.
const size_t MaxDescriptors = 4096;
const size_t MaxSections = 96; // the PE format's own limit
const size_t MaxNameLength = 260;

// One open file, read at offsets that are first checked against its size.
class ImageFile
{
public:
    explicit ImageFile(const std::wstring& path)
    {
        m_file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size = {};
        if (m_file != INVALID_HANDLE_VALUE && GetFileSizeEx(m_file, &size))
            m_size = (uint64_t)size.QuadPart;
        else
            m_error = GetLastError();
    }
    ~ImageFile()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool Opened() const { return m_error == 0; }
    DWORD Error() const { return m_error; }
    bool Has(uint64_t offset, uint64_t size) const { return offset <= m_size && size <= m_size - offset; }

    // False when the range lies outside the file or the read fails.
    bool Read(uint64_t offset, void* out, size_t size)
    {
        if (!Has(offset, size))
            return false;
        // The headers nearly always lie in the file's first page: it is read
        // once, and the many small reads of the headers are served from it.
        if (!m_headReadTried)
        {
            m_headReadTried = true;
            DWORD want = (DWORD)std::min<uint64_t>(sizeof m_head, m_size), got = 0;
            OVERLAPPED start = {};
            if (ReadFile(m_file, m_head, want, &got, &start))
                m_headSize = got;
        }
        if (offset + size <= m_headSize)
        {
            std::memcpy(out, m_head + offset, size);
            return true;
        }
        OVERLAPPED at = {};
        at.Offset = (DWORD)offset;
        at.OffsetHigh = (DWORD)(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(m_file, out, (DWORD)size, &got, &at) || got != size)
        {
            m_error = GetLastError() ? GetLastError() : ERROR_HANDLE_EOF;
            return false;
        }
        return true;
    }
    bool U16(uint64_t offset, uint16_t* v) { return Read(offset, v, 2); }
    bool U32(uint64_t offset, uint32_t* v) { return Read(offset, v, 4); }

    // A NUL-terminated name of printable ASCII within the file; "" when it
    // is not one.
    std::string Name(uint64_t offset)
    {
        char buffer[MaxNameLength + 1];
        size_t size = (size_t)std::min<uint64_t>(sizeof buffer, offset < m_size ? m_size - offset : 0);
        if (size == 0 || !Read(offset, buffer, size))
            return {};
        const char* end = (const char*)std::memchr(buffer, 0, size);
        if (!end || end == buffer)
            return {};
        std::string name(buffer, (size_t)(end - buffer));
        for (char c : name)
            if ((unsigned char)c < 0x20 || (unsigned char)c > 0x7E)
                return {};
        return name;
    }

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    uint64_t m_size = 0;
    DWORD m_error = 0;
    char m_head[4096];
    uint64_t m_headSize = 0;
    bool m_headReadTried = false;
};

struct Section
{
    uint32_t virtualAddress = 0, virtualSize = 0, rawSize = 0, rawOffset = 0;
};

// The file offset of an address in the image, or false when no section's
// file data holds it.
bool FileOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t* offset)
{
    for (const Section& s : sections)
    {
        uint64_t extent = std::max(s.virtualSize, s.rawSize);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < extent)
        {
            uint32_t within = rva - s.virtualAddress;
            if (within >= s.rawSize)
                return false;
            *offset = (uint64_t)s.rawOffset + within;
            return true;
        }
    }
    return false;
}

bool SameAsciiName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

void AddName(std::vector<std::string>* names, const std::string& name)
{
    if (name.empty())
        return;
    for (const std::string& known : *names)
        if (SameAsciiName(known, name))
            return;
    names->push_back(name);
}

// The names of one import directory: descriptors of descriptorSize bytes
// with the name's address at nameAt, ending with one whose name is 0.
void ReadDirectory(ImageFile& file, const std::vector<Section>& sections, uint32_t rva, size_t descriptorSize,
                   size_t nameAt, std::vector<std::string>* names)
{
    uint64_t offset = 0;
    if (rva == 0 || !FileOffset(sections, rva, &offset))
        return;
    for (size_t i = 0; i < MaxDescriptors; i++, offset += descriptorSize)
    {
        uint32_t nameRva = 0;
        if (!file.Has(offset, descriptorSize) || !file.U32(offset + nameAt, &nameRva) || nameRva == 0)
            return;
        uint64_t nameOffset = 0;
        if (FileOffset(sections, nameRva, &nameOffset))
            AddName(names, file.Name(nameOffset));
    }
}

// Whether a PE32+ image's load configuration points at hybrid metadata.
bool ReadHybrid(ImageFile& file, const std::vector<Section>& sections, uint32_t loadConfigRva)
{
    uint64_t offset = 0;
    uint32_t size = 0;
    uint64_t metadata = 0;
    return loadConfigRva != 0 && FileOffset(sections, loadConfigRva, &offset) && file.U32(offset, &size) &&
           size >= ChpeMetadataAt + 8 && file.Read(offset + ChpeMetadataAt, &metadata, 8) && metadata != 0;
}

void ReadOptionalParts(ImageFile& file, uint64_t optionalHeader, uint16_t optionalSize, uint16_t sectionCount,
                       bool withImports, ModuleImage* image)
{
    uint16_t magic = 0;
    if (optionalSize < 2 || !file.U16(optionalHeader, &magic))
        return;
    // Where the count of data directories sits, and the directories after it.
    size_t countAt = magic == Pe32PlusMagic ? 108 : magic == Pe32Magic ? 92 : 0;
    if (countAt == 0 || optionalSize < countAt + 4)
        return;
    uint32_t directoryCount = 0;
    if (!file.U32(optionalHeader + countAt, &directoryCount))
        return;
    directoryCount = std::min<uint32_t>(directoryCount, (optionalSize - countAt - 4) / 8);
    auto directory = [&](uint32_t index) {
        uint32_t rva = 0;
        if (index < directoryCount)
            file.U32(optionalHeader + countAt + 4 + 8 * index, &rva);
        return rva;
    };
    std::vector<Section> sections;
    uint64_t table = optionalHeader + optionalSize;
    for (size_t i = 0; i < std::min<size_t>(sectionCount, MaxSections); i++)
    {
        uint32_t fields[4]; // virtual size, virtual address, raw size, raw offset
        if (!file.Read(table + i * SectionHeaderSize + 8, fields, sizeof fields))
            break;
        sections.push_back({fields[1], fields[0], fields[2], fields[3]});
    }
    if (magic == Pe32PlusMagic)
        image->hybrid = ReadHybrid(file, sections, directory(LoadConfigDirectory));
    if (!withImports)
        return;
    ReadDirectory(file, sections, directory(ImportDirectory), ImportDescriptorSize, 12, &image->imports);
    ReadDirectory(file, sections, directory(DelayImportDirectory), DelayDescriptorSize, 4, &image->imports);
}

} // namespace

ModuleImage ReadModuleImage(const std::wstring& path, bool withImports)
{
    ModuleImage image;
    ImageFile file(path);
    if (!file.Opened())
    {
        image.reason = "cannot open the file: " + SystemErrorText(file.Error());
        return image;
    }
    image.kind = ModuleImage::Kind::notImage;
    char mz[2] = {};
    uint32_t peOffset = 0;
    char signature[4] = {};
    uint16_t coff[CoffHeaderSize / 2] = {};
    if (!file.Read(0, mz, 2) || std::memcmp(mz, "MZ", 2) != 0)
        image.reason = "not a PE image: no MZ header";
    else if (!file.U32(0x3C, &peOffset) || !file.Read(peOffset, signature, 4))
        image.reason = "not a PE image: its PE header lies outside the file";
    else if (std::memcmp(signature, "PE\0\0", 4) != 0)
        image.reason = "not a PE image: no PE signature";
    else if (!file.Read((uint64_t)peOffset + 4, coff, CoffHeaderSize))
        image.reason = "not a PE image: its COFF header is cut off";
    if (!image.reason.empty())
    {
        if (file.Error() != 0)
        {
            image.kind = ModuleImage::Kind::unreadable;
            image.reason = "cannot read the file: " + SystemErrorText(file.Error());
        }
        return image;
    }
    image.kind = ModuleImage::Kind::image;
    image.machine = coff[0];
    ReadOptionalParts(file, (uint64_t)peOffset + 4 + CoffHeaderSize, coff[8], coff[1], withImports, &image);
    return image;
}

std::string MachineName(const ModuleImage& image)
{
    if (image.kind != ModuleImage::Kind::image)
        return "";
    switch (image.machine)
    {
    case machine::X64: return image.hybrid ? "arm64ec" : "x64";
    case machine::Arm64: return image.hybrid ? "arm64x" : "arm64";
    case machine::Arm64Ec: return "arm64ec";
    case machine::X86: return "x86";
    case machine::Arm: return "arm";
    }
    char text[32];
    std::snprintf(text, sizeof text, "machine 0x%04X", (unsigned)image.machine);
    return text;
}

} // namespace orvanta
