// Finding and reading a VST3 plugin's .vstpreset files. A preset file is
// read by ranges (header, chunk list, metadata), never whole: the state
// chunks can be large and are the plugin's business. Every offset and size
// is held against the file's size before anything is read at it.
#include "formats/vst3/vst3_presets.h"
#include "formats/vst3/vst3_unit.h"
#include "formats/vst3/vst3_preset_metadata.h"
#include "formats/install_folders.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>
#include <cctype>
#include <cwchar>
#include <set>

namespace orvanta {
namespace {

const size_t HeaderSize = 48;
const size_t ListHeadSize = 8;  // "List" and the count
const size_t ListEntrySize = 20; // an ID, a 64-bit offset, a 64-bit size
const wchar_t PresetExtension[] = L".vstpreset";

std::string Upper(std::string text)
{
    for (char& c : text)
    {
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    return text;
}

uint32_t Read32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--)
        value = value << 8 | (unsigned char)bytes[at + i];
    return value;
}

uint64_t Read64(const std::string& bytes, size_t at)
{
    return (uint64_t)Read32(bytes, at + 4) << 32 | Read32(bytes, at);
}

// A chunk ID as people read it: its four characters, bytes that are no
// printable ASCII as \xNN.
std::string ChunkName(const std::string& id)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string name;
    for (unsigned char c : id)
    {
        if (c >= 0x20 && c < 0x7F)
            name += (char)c;
        else
            name += std::string("\\x") + digits[c >> 4] + digits[c & 15];
    }
    return name;
}

// A file open for reading at offsets.
class RangeFile
{
public:
    explicit RangeFile(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        LARGE_INTEGER size = {};
        if (m_file == INVALID_HANDLE_VALUE || !GetFileSizeEx(m_file, &size))
            m_error = GetLastError();
        m_size = (uint64_t)size.QuadPart;
    }
    ~RangeFile()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }
    RangeFile(const RangeFile&) = delete;
    RangeFile& operator=(const RangeFile&) = delete;

    DWORD Error() const { return m_error; }
    uint64_t Size() const { return m_size; }
    // Exactly count bytes at offset; false when fewer came.
    bool Read(uint64_t offset, size_t count, std::string* bytes)
    {
        bytes->assign(count, '\0');
        size_t done = 0;
        while (done < count)
        {
            OVERLAPPED at = {};
            uint64_t from = offset + done;
            at.Offset = (DWORD)from;
            at.OffsetHigh = (DWORD)(from >> 32);
            DWORD got = 0;
            DWORD ask = (DWORD)std::min<size_t>(count - done, 1 << 20);
            if (!ReadFile(m_file, &(*bytes)[done], ask, &got, &at) || got == 0)
            {
                m_error = GetLastError();
                return false;
            }
            done += got;
        }
        return true;
    }

private:
    HANDLE m_file;
    uint64_t m_size = 0;
    DWORD m_error = 0;
};

struct Chunk
{
    std::string id;
    uint64_t offset = 0, size = 0;
};

// The chunk list at offset; false with the problem for a list that is not
// all inside the file.
bool ReadChunkList(RangeFile& file, uint64_t offset, std::vector<Chunk>* chunks, std::string* problem)
{
    const uint64_t size = file.Size();
    const std::string where = "chunk list at " + std::to_string(offset);
    std::string head;
    if (offset > size || size - offset < ListHeadSize)
    {
        *problem = where + " lies outside the file (" + std::to_string(size) + " bytes)";
        return false;
    }
    if (!file.Read(offset, ListHeadSize, &head))
    {
        *problem = "cannot be read (error " + std::to_string(file.Error()) + ")";
        return false;
    }
    if (head.compare(0, 4, "List") != 0)
    {
        *problem = "no chunk list at " + std::to_string(offset) + " (no 'List' there)";
        return false;
    }
    uint32_t count = Read32(head, 4);
    if (count > Vst3PresetChunkLimit)
    {
        *problem = where + " names " + std::to_string(count) + " chunks, more than " +
                   std::to_string(Vst3PresetChunkLimit);
        return false;
    }
    uint64_t end = offset + ListHeadSize + (uint64_t)count * ListEntrySize;
    if (end > size)
    {
        *problem = where + " is cut short: its " + std::to_string(count) + " entries end at " + std::to_string(end) +
                   ", the file at " + std::to_string(size);
        return false;
    }
    std::string entries;
    if (!file.Read(offset + ListHeadSize, count * ListEntrySize, &entries))
    {
        *problem = "cannot be read (error " + std::to_string(file.Error()) + ")";
        return false;
    }
    for (uint32_t i = 0; i < count; i++)
    {
        size_t at = i * ListEntrySize;
        Chunk chunk{entries.substr(at, 4), Read64(entries, at + 4), Read64(entries, at + 12)};
        if (chunk.offset > size || chunk.size > size - chunk.offset)
        {
            *problem = "chunk '" + ChunkName(chunk.id) + "' at " + std::to_string(chunk.offset) + " (" +
                       std::to_string(chunk.size) + " bytes) lies outside the file (" + std::to_string(size) +
                       " bytes)";
            return false;
        }
        chunks->push_back(chunk);
    }
    return true;
}

// The metadata chunk's attributes into preset, or its finding.
void ReadMetadata(RangeFile& file, const Chunk& info, Vst3PresetFile* preset)
{
    if (info.size > Vst3PresetInfoLimit)
    {
        preset->findings.push_back("metadata of " + std::to_string(info.size) + " bytes is over the limit of " +
                                   std::to_string(Vst3PresetInfoLimit) + "; not read");
        return;
    }
    std::string xml;
    if (!file.Read(info.offset, (size_t)info.size, &xml))
    {
        preset->findings.push_back("metadata cannot be read (error " + std::to_string(file.Error()) + ")");
        return;
    }
    if (xml.compare(0, 2, "\xFF\xFE") == 0 || xml.compare(0, 2, "\xFE\xFF") == 0)
    {
        preset->findings.push_back("metadata is UTF-16 XML, which is not read");
        return;
    }
    std::string fault;
    if (!ReadPresetMetadata(xml, &preset->attributes, &fault))
        preset->findings.push_back("metadata is not well-formed XML (" + fault + "); its attributes are left out");
}

bool IsPresetFile(const std::wstring& path)
{
    const size_t n = std::wcslen(PresetExtension);
    return path.size() > n && FoldCase(path.substr(path.size() - n)) == FoldCase(PresetExtension);
}

// Seconds since 1970 of a file time; 0 for one before.
uint64_t UnixSeconds(uint64_t fileTime)
{
    const uint64_t epoch = 116444736000000000ull; // 1970-01-01 in 100 ns units since 1601
    return fileTime < epoch ? 0 : (fileTime - epoch) / 10000000;
}

// A vendor or plugin name as one folder name.
std::wstring FolderName(const std::string& name)
{
    std::wstring folder = ToWide(name);
    for (wchar_t& c : folder)
    {
        if (std::wcschr(L"\\*?/:<>|", c) != nullptr)
            c = L'_';
    }
    return folder;
}

std::wstring Below(std::wstring base, const std::wstring& sub)
{
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/'))
        base.pop_back();
    return base + L"\\" + sub;
}

std::vector<std::wstring> PluginFolders(const std::string& vendor, const std::string& plugin)
{
    std::vector<std::wstring> folders;
    if (plugin.empty())
        return folders;
    std::wstring sub = L"VST3 Presets\\" + (vendor.empty() ? L"" : FolderName(vendor) + L"\\") + FolderName(plugin);
    const std::pair<const wchar_t*, const wchar_t*> roots[] = {
        {L"USERPROFILE", L"Documents\\"}, {L"APPDATA", L""}, {L"PROGRAMDATA", L""}};
    for (const auto& root : roots)
    {
        std::wstring base = EnvironmentText(root.first);
        if (!base.empty())
            folders.push_back(Below(base, root.second + sub));
    }
    return folders;
}

// BUNDLE\Contents\Resources\Presets, "" when the module is no bundle folder.
std::wstring BundleFolder(const std::wstring& bundle)
{
    DWORD attributes = bundle.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(bundle.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return L"";
    return Below(bundle, L"Contents\\Resources\\Presets");
}

} // namespace

Vst3PresetFile ReadVst3PresetFile(const std::wstring& path)
{
    Vst3PresetFile preset;
    RangeFile file(path);
    if (file.Error() != 0)
    {
        preset.problem = "cannot be read (error " + std::to_string(file.Error()) + ")";
        return preset;
    }
    std::string header;
    size_t have = (size_t)std::min<uint64_t>(file.Size(), HeaderSize);
    if (!file.Read(0, have, &header))
    {
        preset.problem = "cannot be read (error " + std::to_string(file.Error()) + ")";
        return preset;
    }
    if (header.compare(0, 4, std::string("VST3", std::min<size_t>(have, 4))) != 0)
    {
        preset.problem = "not a VST3 preset (no 'VST3' at its start)";
        return preset;
    }
    if (have < HeaderSize)
    {
        preset.problem = "cut short: " + std::to_string(have) + " bytes, a header needs " + std::to_string(HeaderSize);
        return preset;
    }
    preset.version = Read32(header, 4);
    std::string classId = header.substr(8, 32);
    if (!std::all_of(classId.begin(), classId.end(), [](char c) { return std::isxdigit((unsigned char)c); }))
    {
        preset.problem = "class ID is not 32 hexadecimal digits";
        return preset;
    }
    preset.classId = Upper(classId);
    std::vector<Chunk> chunks;
    if (!ReadChunkList(file, Read64(header, 40), &chunks, &preset.problem))
        return preset;
    preset.ok = true;
    const Chunk* info = nullptr;
    for (const Chunk& chunk : chunks)
    {
        if (chunk.id == "Comp")
            preset.componentState = true;
        else if (chunk.id == "Cont")
            preset.controllerState = true;
        else if (chunk.id == "Info" && !info)
            info = &chunk;
    }
    if (info)
        ReadMetadata(file, *info, &preset);
    return preset;
}

std::vector<std::wstring> Vst3PresetFolders(const std::wstring& bundle, const std::string& vendor,
                                            const std::string& plugin)
{
    std::vector<std::wstring> folders = PluginFolders(vendor, plugin);
    std::wstring own = BundleFolder(bundle);
    if (!own.empty())
        folders.push_back(own);
    return folders;
}

Vst3Presets FindVst3Presets(const ModuleResult& module)
{
    Vst3Presets found;
    std::set<std::string> classes;
    std::vector<std::wstring> folders;
    std::set<std::wstring> folderKeys;
    auto addFolder = [&](const std::wstring& folder) {
        if (folderKeys.insert(PathKey(folder)).second)
            folders.push_back(folder);
    };
    for (const PluginEntry& entry : module.plugins)
    {
        if (!entry.vst3 || entry.vst3->classId.empty())
            continue;
        classes.insert(Upper(entry.vst3->classId));
        if (entry.vst3->category == Vst3AudioModuleClass)
        {
            for (const std::wstring& folder : PluginFolders(entry.vst3->vendor, entry.vst3->name))
                addFolder(folder);
        }
    }
    // The bundle's own presets, last: they belong to the module as a whole.
    std::wstring own = BundleFolder(module.path);
    if (!own.empty())
        addFolder(own);

    size_t budget = LocationFileLimit;
    std::set<std::wstring> seen; // files by path key: a folder reached twice gives its files once
    for (const std::wstring& folder : folders)
    {
        LocationWalk walk = WalkLocation(folder, budget);
        found.folders.push_back({folder, LocationStamp(walk)});
        if (!walk.exists)
            continue;
        budget -= walk.files.size();
        const std::string where = ToUtf8(folder);
        found.findings.insert(found.findings.end(), walk.errors.begin(), walk.errors.end());
        if (walk.tooDeep)
            found.findings.push_back(where + ": folders more than " + std::to_string(LocationDepthLimit) +
                                     " levels below it are not searched");
        if (walk.tooMany)
            found.findings.push_back(where + ": more files than the limit of " + std::to_string(LocationFileLimit) +
                                     " for one module; the rest is not read");
        // Sorted, so the findings come in the same order on every file system.
        std::sort(walk.files.begin(), walk.files.end(), [](const LocationFile& a, const LocationFile& b) {
            return FoldCase(a.path) < FoldCase(b.path);
        });
        for (const LocationFile& file : walk.files)
        {
            if (!IsPresetFile(file.path) || !seen.insert(PathKey(file.path)).second)
                continue;
            Vst3PresetFile read = ReadVst3PresetFile(file.path);
            const std::string name = ToUtf8(file.path);
            if (!read.ok)
            {
                found.findings.push_back(name + ": " + read.problem);
                continue;
            }
            for (const std::string& finding : read.findings)
                found.findings.push_back(name + ": " + finding);
            if (!classes.count(read.classId))
            {
                found.findings.push_back(name + ": class ID " + read.classId + " is not a class of this module");
                continue;
            }
            Preset preset;
            std::wstring fileName = FileNameOf(file.path);
            preset.name = ToUtf8(fileName.substr(0, fileName.size() - std::wcslen(PresetExtension)));
            preset.file = file.path;
            preset.plugins = {{"vst3", read.classId}};
            preset.extra = std::move(read.attributes);
            preset.created = UnixSeconds(file.created);
            preset.modified = UnixSeconds(file.written);
            found.presets.push_back(std::move(preset));
        }
    }
    std::sort(found.presets.begin(), found.presets.end(),
              [](const Preset& a, const Preset& b) { return FoldCase(a.file) < FoldCase(b.file); });
    return found;
}

} // namespace orvanta

namespace orvanta {

// Reading a VST3 module's presets loads none of its code: no server is
// asked.
bool Vst3Unit::ScanPresets(ScanContext&, const ModuleResult& module, ModulePresets* presets) const
{
    Vst3Presets found = FindVst3Presets(module);
    for (StampedLocation& folder : found.folders)
    {
        PresetLocation location;
        location.path = std::move(folder.folder);
        location.stamp = std::move(folder.stamp);
        presets->locations.push_back(std::move(location));
    }
    presets->presets = std::move(found.presets);
    presets->findings = std::move(found.findings);
    return true;
}

} // namespace orvanta
