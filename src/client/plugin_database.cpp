// The database file: its entries, the incremental rules of a run, and the
// one writer that rewrites the file after every change.
#include "plugin_database.h"
#include "text_convert.h"
#include <windows.h>
#include <algorithm>
#include <map>
#include <mutex>

namespace orvanta {

std::wstring PathKey(const std::wstring& path)
{
    std::wstring key = path;
    if (!key.empty())
        CharUpperBuffW(&key[0], (DWORD)key.size());
    return key;
}

bool HasProblem(const ModuleResult& result)
{
    if (result.status != Status::ok)
        return true;
    for (const PluginEntry& plugin : result.plugins)
    {
        if (plugin.status != Status::ok)
            return true;
    }
    return false;
}

namespace {

std::string SystemErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, (wchar_t*)&text, 0, nullptr);
    std::wstring message = n ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    std::string result = "error " + std::to_string(code);
    if (!message.empty())
        result += ": " + ToUtf8(message);
    return result;
}

// Crashed, timed out or lost: worth another try only when the user asks.
bool EndedBadly(const ModuleResult& result)
{
    auto bad = [](Status s) { return s == Status::crashed || s == Status::timeout || s == Status::lost; };
    if (bad(result.status))
        return true;
    for (const PluginEntry& plugin : result.plugins)
    {
        if (bad(plugin.status))
            return true;
    }
    return false;
}

// The file as it is now, for an entry made without a scan.
bool StatFile(const std::wstring& path, uint64_t* size, std::string* modified)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    *size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    *modified = FileTimeText((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 |
                             data.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool IsUnder(const std::wstring& key, const std::wstring& rootKey)
{
    if (key == rootKey)
        return true;
    if (key.size() <= rootKey.size() || key.compare(0, rootKey.size(), rootKey) != 0)
        return false;
    return rootKey.back() == L'\\' || key[rootKey.size()] == L'\\';
}

} // namespace

bool WriteFileAtomically(const std::wstring& path, const std::string& bytes, std::string* error)
{
    // One fixed name: a run killed in the middle of a write leaves at most
    // this one file, which the next write replaces.
    std::wstring temporary = path + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        *error = "cannot create " + ToUtf8(temporary) + " (" + SystemErrorText(GetLastError()) + ")";
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size())
    {
        DWORD chunk = (DWORD)std::min<size_t>(bytes.size() - done, 1 << 20), written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    DWORD code = GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExW(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        ok = false;
        code = GetLastError();
    }
    if (!ok)
    {
        DeleteFileW(temporary.c_str());
        *error = "cannot write " + ToUtf8(path) + " (" + SystemErrorText(code) + ")";
    }
    return ok;
}

struct PluginDatabase::Impl
{
    mutable std::mutex lock;
    std::wstring path;
    bool open = false; // false also after a file that could not be read
    // The banner has a lock of its own: a scan that finishes sets it, and
    // must not wait while another thread rewrites the file under 'lock'.
    mutable std::mutex serverLock;
    std::string server;
    std::map<std::wstring, ModuleRecord> modules; // by PathKey: sorted, each once
    std::map<std::wstring, std::string> texts;    // entries as written last, by PathKey

    void Put(const ModuleRecord& record)
    {
        std::wstring key = PathKey(record.result.path);
        modules[key] = record;
        texts.erase(key);
    }

    void MarkCrashed(const Blame& blame);

    std::string ServerText() const
    {
        std::lock_guard<std::mutex> guard(serverLock);
        return server;
    }
    void SetServerText(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(serverLock);
        server = text;
    }

    bool Save(std::string* error)
    {
        if (!open)
        {
            *error = "the database is not open";
            return false;
        }
        std::vector<const std::string*> entries;
        entries.reserve(modules.size());
        for (const auto& entry : modules)
        {
            auto text = texts.find(entry.first);
            if (text == texts.end())
                text = texts.emplace(entry.first, EntryText(entry.second)).first;
            entries.push_back(&text->second);
        }
        return WriteFileAtomically(path, DocumentFromEntries(ServerText(), entries), error);
    }
};

PluginDatabase::PluginDatabase() : m_impl(new Impl) {}
PluginDatabase::~PluginDatabase() = default;

bool PluginDatabase::Open(const std::wstring& path, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->open = false;
    m_impl->modules.clear();
    m_impl->texts.clear();
    m_impl->SetServerText("");
    wchar_t full[4096];
    DWORD n = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
    m_impl->path = n > 0 && n < 4096 ? std::wstring(full, n) : path;
    const std::string name = ToUtf8(m_impl->path);

    HANDLE file = CreateFileW(m_impl->path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND)
        {
            m_impl->open = true; // a first run
            return true;
        }
        if (code == ERROR_PATH_NOT_FOUND)
            *error = "the folder of the database " + name + " does not exist";
        else
            *error = "cannot read the database " + name + " (" + SystemErrorText(code) + ")";
        return false;
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    bool readOk = true;
    while ((readOk = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
        bytes.append(buffer, got);
    DWORD code = GetLastError();
    CloseHandle(file);
    if (!readOk)
    {
        *error = "cannot read the database " + name + " (" + SystemErrorText(code) + ")";
        return false;
    }

    const std::string refused = "the database " + name + " is not readable, so it is left as it is: ";
    Json document = Json::parse(bytes, nullptr, false);
    if (document.is_discarded())
    {
        *error = refused + "it is not valid JSON";
        return false;
    }
    if (!document.is_object() || !document.contains("format") || !document["format"].is_number_integer())
    {
        *error = refused + "it has no format number";
        return false;
    }
    if (document["format"].get<long long>() != DatabaseFormat)
    {
        *error = refused + "its format " + document["format"].dump() + " is not format 1";
        return false;
    }
    auto server = document.find("server");
    if (server != document.end() && !server->is_string())
    {
        *error = refused + "server is not a text";
        return false;
    }
    auto modules = document.find("modules");
    if (modules == document.end() || !modules->is_array())
    {
        *error = refused + "it has no list of modules";
        return false;
    }
    std::map<std::wstring, ModuleRecord> read;
    for (const Json& entry : *modules)
    {
        ModuleRecord record;
        std::string why;
        if (!RecordFromJson(entry, &record, &why))
        {
            *error = refused + why;
            return false;
        }
        read[PathKey(record.result.path)] = std::move(record);
    }
    m_impl->modules = std::move(read);
    m_impl->texts.clear();
    if (server != document.end())
        m_impl->SetServerText(server->get<std::string>());
    m_impl->open = true;
    return true;
}

const std::wstring& PluginDatabase::Path() const
{
    return m_impl->path;
}

ScanPlan PluginDatabase::Plan(const FoundModules& found, const PlanOptions& options) const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    ScanPlan plan;
    std::map<std::wstring, bool> present;
    for (const ModuleFile& file : found.files)
    {
        std::wstring key = PathKey(file.path);
        present[key] = true;
        auto it = m_impl->modules.find(key);
        bool same = it != m_impl->modules.end() && it->second.size == file.size &&
                    it->second.modified == file.modified;
        if (!same || options.rescan || (options.retryFailed && EndedBadly(it->second.result)))
            plan.toScan.push_back(file);
        else
            plan.unchanged.push_back(file);
    }
    std::vector<std::wstring> rootKeys;
    for (const std::wstring& root : found.roots)
        rootKeys.push_back(PathKey(root));
    for (const auto& entry : m_impl->modules)
    {
        if (present.count(entry.first))
            continue;
        for (const std::wstring& root : rootKeys)
        {
            if (!root.empty() && IsUnder(entry.first, root))
            {
                plan.removed.push_back(entry.second.result.path);
                break;
            }
        }
    }
    return plan;
}

bool PluginDatabase::Record(const ModuleRecord& record, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->Put(record);
    return m_impl->Save(error);
}

bool PluginDatabase::MarkCrashed(const Blame& blame, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->MarkCrashed(blame);
    return m_impl->Save(error);
}

bool PluginDatabase::Apply(const std::vector<ModuleRecord>& records, const std::vector<Blame>& crashes,
                           std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    for (const ModuleRecord& record : records)
        m_impl->Put(record);
    for (const Blame& blame : crashes)
        m_impl->MarkCrashed(blame);
    return m_impl->Save(error);
}

std::vector<ModuleFile> PluginDatabase::ScanOrder(const std::vector<ModuleFile>& toScan) const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    std::vector<std::pair<uint32_t, const ModuleFile*>> known;
    std::vector<const ModuleFile*> fresh;
    for (const ModuleFile& file : toScan)
    {
        auto it = m_impl->modules.find(PathKey(file.path));
        if (it == m_impl->modules.end())
            fresh.push_back(&file);
        else
            known.emplace_back(it->second.result.scanMs, &file);
    }
    auto byPath = [](const ModuleFile* a, const ModuleFile* b) { return PathKey(a->path) < PathKey(b->path); };
    std::stable_sort(known.begin(), known.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : byPath(a.second, b.second);
    });
    std::stable_sort(fresh.begin(), fresh.end(), byPath);
    std::vector<ModuleFile> order;
    order.reserve(toScan.size());
    for (const auto& entry : known)
        order.push_back(*entry.second);
    for (const ModuleFile* file : fresh)
        order.push_back(*file);
    return order;
}

void PluginDatabase::Impl::MarkCrashed(const Blame& blame)
{
    std::wstring key = PathKey(blame.path);
    texts.erase(key);
    ModuleRecord& record = modules[key];
    if (record.result.path.empty())
    {
        record.result.path = blame.path;
        StatFile(blame.path, &record.size, &record.modified);
    }
    ModuleResult& m = record.result;
    m.status = Status::crashed;
    m.dump = blame.crash.dumpPath;
    m.faultingModule = blame.crash.faultingModule;
    m.exceptionCode = blame.crash.exceptionCode;
    m.exitCode = 9;
    m.error = "a thread it left running crashed the server during a later request";
}

bool PluginDatabase::Remove(const std::vector<std::wstring>& paths, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    for (const std::wstring& path : paths)
    {
        m_impl->modules.erase(PathKey(path));
        m_impl->texts.erase(PathKey(path));
    }
    return m_impl->Save(error);
}

void PluginDatabase::SetServer(const std::string& banner)
{
    m_impl->SetServerText(banner);
}

std::string PluginDatabase::Server() const
{
    return m_impl->ServerText();
}

std::vector<ModuleRecord> PluginDatabase::Modules() const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    std::vector<ModuleRecord> list;
    for (const auto& entry : m_impl->modules)
        list.push_back(entry.second);
    return list;
}

std::optional<ModuleRecord> PluginDatabase::Find(const std::wstring& path) const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    auto it = m_impl->modules.find(PathKey(path));
    if (it == m_impl->modules.end())
        return std::nullopt;
    return it->second;
}

std::string PluginDatabase::ToJson(const std::vector<std::wstring>& paths) const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    std::map<std::wstring, const ModuleRecord*> chosen;
    for (const std::wstring& path : paths)
    {
        auto it = m_impl->modules.find(PathKey(path));
        if (it != m_impl->modules.end())
            chosen[it->first] = &it->second;
    }
    std::vector<const ModuleRecord*> list;
    for (const auto& entry : chosen)
        list.push_back(entry.second);
    return DocumentText(m_impl->ServerText(), list);
}

} // namespace orvanta
