// Reads the two streams of a minidump that say where a crash happened: the
// exception stream (code and faulting address) and the module list (which
// module's image holds that address). Every offset is checked against the
// file's size, so a truncated or foreign file gives an error, never a crash.
#include "server_process/crash_dump_reader.h"
#include "orvanta/text.h"
#include <algorithm>
#include <cstring>
#include <windows.h>

namespace orvanta {
namespace {

const uint32_t DumpSignature = 0x504D444D; // "MDMP"
const uint32_t ModuleListStream = 4;
const uint32_t ExceptionStream = 6;
const uint32_t SystemInfoStream = 7;
const uint16_t X86Architecture = 0; // PROCESSOR_ARCHITECTURE_INTEL
const size_t HeaderSize = 32;
const size_t DirectoryEntrySize = 12;
const size_t ModuleEntrySize = 108;
const size_t MaxDumpSize = 512u * 1024 * 1024;

class Bytes
{
public:
    explicit Bytes(const std::string& data) : m_data(data) {}
    bool Has(uint64_t offset, uint64_t size) const
    {
        return offset <= m_data.size() && size <= m_data.size() - offset;
    }
    uint32_t U32(size_t offset) const
    {
        uint32_t v;
        std::memcpy(&v, m_data.data() + offset, 4);
        return v;
    }
    uint64_t U64(size_t offset) const
    {
        uint64_t v;
        std::memcpy(&v, m_data.data() + offset, 8);
        return v;
    }
    const char* At(size_t offset) const { return m_data.data() + offset; }

private:
    const std::string& m_data;
};

bool ReadWholeFile(const std::wstring& path, std::string* data, std::string* error)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        *error = "cannot open the dump (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= (LONGLONG)MaxDumpSize;
    if (ok)
    {
        data->resize((size_t)size.QuadPart);
        size_t done = 0;
        while (ok && done < data->size())
        {
            DWORD got = 0;
            DWORD want = (DWORD)std::min<size_t>(data->size() - done, 1u << 20);
            ok = ReadFile(file, &(*data)[done], want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    CloseHandle(file);
    if (!ok)
        *error = "cannot read the dump";
    return ok;
}

} // namespace

bool ReadCrashDump(const std::wstring& dumpPath, CrashInfo* info, std::string* error)
{
    std::string scratch;
    std::string& why = error ? *error : scratch;
    CrashInfo out;
    out.dumpPath = ToUtf8(dumpPath);
    std::string data;
    if (!ReadWholeFile(dumpPath, &data, &why))
    {
        *info = out;
        return false;
    }
    Bytes bytes(data);
    if (!bytes.Has(0, HeaderSize) || bytes.U32(0) != DumpSignature)
    {
        why = "not a minidump (no MDMP signature)";
        *info = out;
        return false;
    }
    uint32_t streams = bytes.U32(8);
    uint32_t directory = bytes.U32(12);
    if (!bytes.Has(directory, (uint64_t)streams * DirectoryEntrySize))
    {
        why = "minidump stream directory outside the file";
        *info = out;
        return false;
    }
    bool haveException = false, x86 = false;
    uint64_t modulesAt = 0, modulesSize = 0;
    for (uint32_t i = 0; i < streams; i++)
    {
        size_t entry = directory + (size_t)i * DirectoryEntrySize;
        uint32_t type = bytes.U32(entry);
        uint32_t size = bytes.U32(entry + 4);
        uint32_t rva = bytes.U32(entry + 8);
        if (type == ExceptionStream && !haveException)
        {
            // ThreadId, alignment, then the exception record: code, flags,
            // nested record, address.
            if (size < 32 || !bytes.Has(rva, 32))
            {
                why = "minidump exception stream cut short";
                *info = out;
                return false;
            }
            out.exceptionCode = bytes.U32(rva + 8);
            out.address = bytes.U64(rva + 24);
            haveException = true;
        }
        else if (type == SystemInfoStream && size >= 4 && bytes.Has(rva, 4))
            x86 = (bytes.U32(rva) & 0xFFFF) == X86Architecture;
        else if (type == ModuleListStream && modulesSize == 0)
        {
            modulesAt = rva;
            modulesSize = size;
        }
    }
    if (!haveException)
    {
        why = "minidump has no exception stream";
        *info = out;
        return false;
    }
    // A 32-bit process's dump may widen its addresses with their sign.
    const uint64_t addressMask = x86 ? 0xFFFFFFFFu : ~(uint64_t)0;
    out.address &= addressMask;
    if (modulesSize >= 4 && bytes.Has(modulesAt, 4))
    {
        uint32_t count = bytes.U32((size_t)modulesAt);
        if (!bytes.Has(modulesAt + 4, (uint64_t)count * ModuleEntrySize))
        {
            why = "minidump module list cut short";
            *info = out;
            return false;
        }
        for (uint32_t i = 0; i < count; i++)
        {
            size_t module = (size_t)modulesAt + 4 + (size_t)i * ModuleEntrySize;
            uint64_t base = bytes.U64(module) & addressMask;
            uint32_t imageSize = bytes.U32(module + 8);
            if (out.address < base || out.address - base >= imageSize)
                continue;
            uint32_t nameAt = bytes.U32(module + 20);
            if (!bytes.Has(nameAt, 4))
                break;
            uint32_t nameBytes = bytes.U32(nameAt);
            if (nameBytes % 2 != 0 || !bytes.Has((uint64_t)nameAt + 4, nameBytes))
                break;
            std::wstring name(nameBytes / 2, L'\0');
            std::memcpy(&name[0], bytes.At(nameAt + 4), nameBytes);
            out.faultingModule = ToUtf8(name);
            break;
        }
    }
    *info = out;
    return true;
}

} // namespace orvanta
