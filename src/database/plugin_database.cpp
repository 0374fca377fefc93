// The database: its entries by path, the plan of a run and its order of
// work, and the rewrite of the file after every change.
#include "database/atomic_file.h"
#include "database/database_file.h"
#include "database/linked_products.h"
#include "discovery/module_files.h"
#include "client/system_error.h"
#include "orvanta/database.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>
#include <map>
#include <mutex>

namespace orvanta {

struct PluginDatabase::Impl
{
    mutable std::mutex lock;
    std::wstring path;
    bool open = false; // false also after a file that could not be read
    std::string server;
    std::map<std::wstring, ModuleRecord> modules; // by PathKey: sorted, each once
    std::map<std::wstring, std::string> texts;    // entries as written last, by PathKey
    std::map<std::wstring, BlockedModule> blocked; // by PathKey

    void Put(const ModuleRecord& record)
    {
        std::wstring key = PathKey(record.result.path);
        modules[key] = record;
        texts.erase(key);
        // The banner travels with the results of the 64-bit server that
        // gave it: the 32-bit one's would make the file depend on which
        // module a run finished last.
        if (!record.result.server.empty() && record.result.machine != "x86")
            server = record.result.server;
    }

    void MarkCrashed(const Blame& blame);

    bool Save(std::string* error)
    {
        if (!open)
        {
            *error = "the database is not open";
            return false;
        }
        std::vector<const std::string*> entries;
        std::vector<const ModuleRecord*> records;
        entries.reserve(modules.size());
        records.reserve(modules.size());
        for (const auto& entry : modules)
        {
            auto text = texts.find(entry.first);
            if (text == texts.end())
                text = texts.emplace(entry.first, EntryText(entry.second)).first;
            entries.push_back(&text->second);
            records.push_back(&entry.second);
        }
        return WriteFileAtomically(
            path, DocumentFromEntries(server, entries, ProductsText(records), BlockedText(BlockedList())), error);
    }

    std::vector<BlockedModule> BlockedList() const
    {
        std::vector<BlockedModule> list;
        for (const auto& entry : blocked)
            list.push_back(entry.second);
        return list;
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
    m_impl->blocked.clear();
    m_impl->server.clear();
    m_impl->path = FullPath(path);
    const std::string name = ToUtf8(m_impl->path);

    std::string bytes;
    uint32_t code = 0;
    if (!ReadWholeFile(m_impl->path, &bytes, &code))
    {
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
    std::string server, why;
    std::vector<ModuleRecord> records;
    std::vector<BlockedModule> blocked;
    if (!ParseDocument(bytes, &server, &records, &blocked, &why))
    {
        *error = "the database " + name + " is not readable, so it is left as it is: " + why;
        return false;
    }
    for (ModuleRecord& record : records)
    {
        std::wstring key = PathKey(record.result.path);
        m_impl->modules[key] = std::move(record);
    }
    for (BlockedModule& module : blocked)
        m_impl->blocked[PathKey(module.path)] = std::move(module);
    m_impl->server = server;
    m_impl->open = true;
    return true;
}

const std::wstring& PluginDatabase::Path() const
{
    return m_impl->path;
}

namespace {

// An x86 module that failed without a request: no 32-bit server scanned
// it then.
bool WaitedForX86Server(const ModuleResult& result)
{
    static const char prefix[] = "32-bit module: built for x86";
    return result.status == Status::failed && result.machine == "x86" &&
           result.loadProblem.compare(0, sizeof prefix - 1, prefix) == 0;
}

} // namespace

ScanPlan PluginDatabase::Plan(const FoundModules& found, const PlanOptions& options) const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    ScanPlan plan;
    std::map<std::wstring, bool> present;
    for (const ModuleFile& file : found.files)
    {
        std::wstring key = PathKey(file.path);
        present[key] = true;
        if (m_impl->blocked.count(key))
        {
            plan.blocked.push_back(file);
            continue;
        }
        auto it = m_impl->modules.find(key);
        bool same = it != m_impl->modules.end() && it->second.size == file.size &&
                    it->second.modified == file.modified;
        if (!same || options.rescan || (options.retryFailed && EndedBadly(it->second.result)) ||
            (options.x86Server && WaitedForX86Server(it->second.result)))
            plan.toScan.push_back(file);
        else
            plan.unchanged.push_back(file);
    }
    for (const auto& entry : m_impl->modules)
    {
        if (present.count(entry.first) ||
            std::find(found.formats.begin(), found.formats.end(), entry.second.result.format) ==
                found.formats.end())
            continue;
        for (const std::wstring& root : found.roots)
        {
            if (IsUnder(entry.second.result.path, root))
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

namespace {

// Now in UTC, as the file writes times.
std::string NowText()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeText(((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime);
}

} // namespace

bool PluginDatabase::Block(const std::vector<std::wstring>& paths, const std::string& reason, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    const std::string when = NowText();
    for (const std::wstring& path : paths)
    {
        std::wstring key = PathKey(path);
        m_impl->blocked[key] = BlockedModule{FullPath(path), reason, when};
        m_impl->modules.erase(key);
        m_impl->texts.erase(key);
    }
    return m_impl->Save(error);
}

bool PluginDatabase::Unblock(const std::vector<std::wstring>& paths, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    for (const std::wstring& path : paths)
        m_impl->blocked.erase(PathKey(path));
    return m_impl->Save(error);
}

std::vector<BlockedModule> PluginDatabase::Blocked() const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->BlockedList();
}

bool PluginDatabase::IsBlocked(const std::wstring& path) const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->blocked.count(PathKey(path)) != 0;
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
    struct Item
    {
        uint32_t scanMs;
        std::wstring key;
        const ModuleFile* file;
    };
    std::vector<Item> known, fresh;
    for (const ModuleFile& file : toScan)
    {
        Item item{0, PathKey(file.path), &file};
        auto it = m_impl->modules.find(item.key);
        if (it == m_impl->modules.end())
            fresh.push_back(std::move(item));
        else
        {
            item.scanMs = it->second.result.scanMs;
            known.push_back(std::move(item));
        }
    }
    std::stable_sort(known.begin(), known.end(), [](const Item& a, const Item& b) {
        return a.scanMs != b.scanMs ? a.scanMs > b.scanMs : a.key < b.key;
    });
    std::stable_sort(fresh.begin(), fresh.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
    std::vector<ModuleFile> order;
    order.reserve(toScan.size());
    for (const Item& item : known)
        order.push_back(*item.file);
    for (const Item& item : fresh)
        order.push_back(*item.file);
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
        record.result.format = FormatOfPath(blame.path);
        // A VST3 module's dump names its binary.
        if (record.result.format == PluginFormat::vst3)
            record.result.binary = ToWide(blame.crash.faultingModule);
        ModuleFile file;
        if (StatModuleFile(blame.path, &file))
        {
            record.size = file.size;
            record.modified = file.modified;
        }
    }
    ModuleResult& m = record.result;
    m.status = Status::crashed;
    m.crash = blame.crash;
    m.crash->leftOverThread = true;
    m.exitCode = ServerCrashExitCode;
    m.error = LeftOverThreadCrash;
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
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->server = banner;
}

std::string PluginDatabase::Server() const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->server;
}

std::vector<ModuleRecord> PluginDatabase::Modules() const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    std::vector<ModuleRecord> list;
    for (const auto& entry : m_impl->modules)
        list.push_back(entry.second);
    return list;
}

std::vector<Product> PluginDatabase::Products() const
{
    std::lock_guard<std::mutex> guard(m_impl->lock);
    std::vector<const ModuleRecord*> records;
    records.reserve(m_impl->modules.size());
    for (const auto& entry : m_impl->modules)
        records.push_back(&entry.second);
    return LinkProducts(records);
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
    return DocumentText(m_impl->server, list, m_impl->BlockedList());
}

} // namespace orvanta
