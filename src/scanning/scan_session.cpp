// One scan from folders to database. The session's thread plans, then hands
// the scan to a worker thread (the pool and the database writer) and
// delivers what the servers and the writer post to its queue, one event at
// a time with no lock held, until the worker is done.
#include "orvanta/session.h"
#include "discovery/location_stamp.h"
#include "orvanta/paths.h"
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orvanta {

const char* SessionStatusName(SessionStatus status)
{
    switch (status)
    {
    case SessionStatus::done:
        return "done";
    case SessionStatus::cancelled:
        return "cancelled";
    case SessionStatus::failed:
        return "failed";
    }
    return "?";
}

namespace {

// One search: the paths given for every format asked, or one format's
// standard folders for that format alone.
struct Search
{
    std::vector<std::wstring> roots;
    std::vector<PluginFormat> formats;
};

std::vector<Search> Searches(const SessionSetup& setup)
{
    if (!setup.paths.empty())
        return {Search{setup.paths, setup.formats}};
    std::vector<Search> searches;
    for (PluginFormat format : setup.formats)
        searches.push_back(Search{StandardFolders(format), {format}});
    return searches;
}

// Adds one search's plan to the run's: an entry is dropped as removed only
// by a search of its format (the plan's own rule), each path once.
void AddPlan(ScanPlan&& part, ScanPlan* plan)
{
    auto append = [](auto& to, auto& from) { to.insert(to.end(), from.begin(), from.end()); };
    append(plan->toScan, part.toScan);
    append(plan->unchanged, part.unchanged);
    append(plan->blocked, part.blocked);
    for (const std::wstring& path : part.removed)
    {
        if (std::none_of(plan->removed.begin(), plan->removed.end(),
                         [&](const std::wstring& p) { return SamePath(p, path); }))
            plan->removed.push_back(path);
    }
}

// A module's presets as read before are out of date when one of their
// places on disk looks other than it did then.
bool PresetsChanged(const ModulePresets& presets)
{
    for (const PresetLocation& location : presets.locations)
    {
        if (!location.inPlugin && PathStamp(location.path) != location.stamp)
            return true;
    }
    return false;
}

// Formats whose modules have presets.
bool HasPresets(PluginFormat format)
{
    return format == PluginFormat::vst3 || format == PluginFormat::clap;
}

} // namespace

struct ScanSession::Impl
{
    PluginDatabase& db;
    SessionSetup setup;
    SessionCallbacks callbacks;
    std::atomic<bool> cancelled{false};
    std::thread thread; // after Start
    SessionOutcome started; // what Start's thread returned

    // The pool while it runs, for Cancel.
    std::mutex poolLock;
    ScanPool* pool = nullptr;

    // Events from the servers and the writer, for the session's thread.
    std::mutex queueLock;
    std::condition_variable queued;
    std::deque<std::function<void()>> events;
    bool workerDone = false;

    SessionProgress progress;

    Impl(PluginDatabase& db, SessionSetup setup, SessionCallbacks callbacks)
        : db(db), setup(std::move(setup)), callbacks(std::move(callbacks))
    {
    }

    void Post(std::function<void()> event)
    {
        std::lock_guard<std::mutex> hold(queueLock);
        events.push_back(std::move(event));
        queued.notify_one();
    }
    void Progressed()
    {
        if (callbacks.onProgress)
            callbacks.onProgress(progress);
    }

    SessionOutcome Run();
    bool Find(SessionOutcome* outcome, std::vector<FoundModules>* founds);
    void Scan(const std::vector<ModuleFile>& order, SessionOutcome* outcome);
    void Work(const std::vector<ModuleFile>& order, std::vector<bool>* finished, std::string* writeError);
    std::vector<ModuleResult> PresetModules(const SessionOutcome& outcome);
    void ReadPresets(const std::vector<ModuleResult>& modules, SessionOutcome* outcome);
    void PresetWork(const std::vector<ModuleResult>& modules, std::vector<bool>* finished, std::string* writeError);
    void RunWorker(const std::function<void()>& work);
    // What both passes share: the writer's report posted (each record to
    // onWritten), the pool's callbacks (a module begun, its dialogs, a blame
    // for the writer), and a server that is done with a module.
    DatabaseWriter::AfterWrite PostWritten(const std::function<void(const ModuleRecord&)>& onWritten);
    PoolCallbacks PassCallbacks(const std::vector<std::wstring>& paths, DatabaseWriter& writer);
    void PostEnded(size_t server, const std::wstring& path);
    void Deliver();
};

bool ScanSession::Impl::Find(SessionOutcome* outcome, std::vector<FoundModules>* founds)
{
    for (const Search& search : Searches(setup))
    {
        outcome->roots.insert(outcome->roots.end(), search.roots.begin(), search.roots.end());
        if (search.roots.empty())
            continue;
        founds->push_back(FindModules(search.roots, search.formats));
        const std::vector<std::string>& errors = founds->back().errors;
        outcome->errors.insert(outcome->errors.end(), errors.begin(), errors.end());
    }
    return outcome->errors.empty();
}

SessionOutcome ScanSession::Impl::Run()
{
    SessionOutcome outcome;
    progress = SessionProgress(); // a session run again starts its count anew
    std::vector<FoundModules> founds;
    if (!Find(&outcome, &founds))
    {
        outcome.status = SessionStatus::failed;
        return outcome;
    }
    PlanOptions plan = setup.plan;
    plan.x86Server = plan.x86Server || !setup.server.x86ServerExe.empty();
    for (const FoundModules& found : founds)
        AddPlan(db.Plan(found, plan), &outcome.plan);
    std::vector<ModuleFile> order = db.ScanOrder(outcome.plan.toScan);
    if (cancelled)
    {
        // Nothing was changed yet, and nothing is.
        outcome.status = SessionStatus::cancelled;
        for (const ModuleFile& file : order)
            outcome.notScanned.push_back(file.path);
        return outcome;
    }
    if (callbacks.onPlan)
        callbacks.onPlan(outcome.plan);
    std::string error;
    if (!outcome.plan.removed.empty() && !db.Remove(outcome.plan.removed, &error))
    {
        outcome.status = SessionStatus::failed;
        outcome.errors.push_back(error);
        return outcome;
    }
    progress.total = order.size();
    if (!order.empty())
        Scan(order, &outcome);
    if (setup.presets && outcome.status == SessionStatus::done && !cancelled)
    {
        std::vector<ModuleResult> modules = PresetModules(outcome);
        for (const ModuleResult& module : modules)
            outcome.presetModules.push_back(module.path);
        progress.presetsTotal = modules.size();
        if (!modules.empty())
            ReadPresets(modules, &outcome);
    }
    if (outcome.status == SessionStatus::done && cancelled)
        outcome.status = SessionStatus::cancelled;
    return outcome;
}

// The modules found whose presets are to be read: of a format with presets,
// whose own scan went through, and whose presets were never read, or were
// read before the module was scanned now, or changed on disk since.
std::vector<ModuleResult> ScanSession::Impl::PresetModules(const SessionOutcome& outcome)
{
    std::vector<std::wstring> found;
    for (const ModuleFile& file : outcome.plan.toScan)
        found.push_back(file.path);
    for (const ModuleFile& file : outcome.plan.unchanged)
        found.push_back(file.path);
    std::sort(found.begin(), found.end(),
              [](const std::wstring& a, const std::wstring& b) { return PathKey(a) < PathKey(b); });
    std::vector<ModuleResult> modules;
    for (const std::wstring& path : found)
    {
        std::optional<ModuleRecord> record = db.Find(path);
        if (!record || !HasPresets(record->result.format) || record->result.status != Status::ok)
            continue;
        const std::optional<ModulePresets>& presets = record->result.presets;
        if (!presets || presets->moduleModified != record->modified || PresetsChanged(*presets))
            modules.push_back(std::move(record->result));
    }
    return modules;
}

void ScanSession::Impl::ReadPresets(const std::vector<ModuleResult>& modules, SessionOutcome* outcome)
{
    size_t servers = (size_t)std::max(1, setup.servers);
    progress.scanning.assign(servers, std::wstring());
    progress.dialogs.assign(servers, {});
    Progressed();
    std::vector<bool> finished(modules.size(), false);
    std::string writeError;
    RunWorker([&] { PresetWork(modules, &finished, &writeError); });
    if (!writeError.empty())
    {
        outcome->status = SessionStatus::failed;
        outcome->errors.push_back(writeError);
    }
    for (size_t i = 0; i < modules.size(); i++)
    {
        if (!finished[i])
            outcome->presetsNotRead.push_back(modules[i].path);
    }
}

// On the worker thread, as Work: the pool reads, the writer writes each
// module's entry with its presets.
void ScanSession::Impl::PresetWork(const std::vector<ModuleResult>& modules, std::vector<bool>* finished,
                                   std::string* writeError)
{
    DatabaseWriter writer(db, PostWritten([this](const ModuleRecord& record) {
                              progress.presetsDone++;
                              if (callbacks.onPresets)
                                  callbacks.onPresets(record);
                          }));
    std::vector<std::wstring> paths;
    for (const ModuleResult& module : modules)
        paths.push_back(module.path);
    ScanPool pool(setup.server, setup.servers, setup.crashRetries);
    {
        std::lock_guard<std::mutex> hold(poolLock);
        this->pool = &pool;
        if (cancelled)
            pool.Cancel();
    }
    pool.ScanPresets(modules, PassCallbacks(paths, writer),
                     [&](size_t server, size_t module, std::optional<ModulePresets>&& presets) {
                         PostEnded(server, paths[module]);
                         if (!presets)
                             return; // cancelled: the presets stay as they were
                         if (!writer.Error().empty())
                         {
                             pool.Cancel();
                             return;
                         }
                         std::optional<ModuleRecord> record = db.Find(paths[module]);
                         if (!record)
                             return;
                         (*finished)[module] = true;
                         presets->moduleModified = record->modified;
                         record->result.presets = std::move(presets);
                         writer.Add(std::move(*record));
                     });
    {
        std::lock_guard<std::mutex> hold(poolLock);
        this->pool = nullptr;
    }
    *writeError = writer.Finish();
}

DatabaseWriter::AfterWrite ScanSession::Impl::PostWritten(const std::function<void(const ModuleRecord&)>& onWritten)
{
    return [this, onWritten](const std::vector<ModuleRecord>& records, const std::vector<WrittenBlame>& blames) {
        for (const ModuleRecord& record : records)
        {
            Post([this, onWritten, record] {
                onWritten(record);
                Progressed();
            });
        }
        for (const WrittenBlame& blame : blames)
        {
            Post([this, blame] {
                if (callbacks.onBlame)
                    callbacks.onBlame(blame);
            });
        }
    };
}

PoolCallbacks ScanSession::Impl::PassCallbacks(const std::vector<std::wstring>& paths, DatabaseWriter& writer)
{
    PoolCallbacks own;
    own.onBegin = [this, &paths](size_t server, size_t module) {
        Post([this, server, path = paths[module]] {
            progress.scanning[server] = path;
            if (callbacks.onBegin)
                callbacks.onBegin(server, path);
            Progressed();
        });
    };
    own.onDialog = [this](size_t server, const std::vector<DialogWindow>& windows) {
        Post([this, server, windows] {
            progress.dialogs[server] = windows;
            if (callbacks.onDialog)
                callbacks.onDialog(server, windows);
            Progressed();
        });
    };
    own.onBlame = [&writer](size_t, const Blame& blame) { writer.Add(blame); };
    return own;
}

void ScanSession::Impl::PostEnded(size_t server, const std::wstring& path)
{
    Post([this, server, path] {
        progress.scanning[server].clear();
        progress.dialogs[server].clear();
        if (callbacks.onEnd)
            callbacks.onEnd(server, path);
        Progressed();
    });
}

// The work on a thread of its own while this thread delivers its events.
void ScanSession::Impl::RunWorker(const std::function<void()>& work)
{
    workerDone = false;
    std::thread worker([&] {
        work();
        std::lock_guard<std::mutex> hold(queueLock);
        workerDone = true;
        queued.notify_one();
    });
    Deliver();
    worker.join();
}

void ScanSession::Impl::Scan(const std::vector<ModuleFile>& order, SessionOutcome* outcome)
{
    CreateDirectoryW(setup.server.dumpFolder.c_str(), nullptr);
    size_t servers = (size_t)std::max(1, setup.servers);
    progress.scanning.assign(servers, std::wstring());
    progress.dialogs.assign(servers, {});
    Progressed();

    std::vector<bool> finished(order.size(), false);
    std::string writeError;
    RunWorker([&] { Work(order, &finished, &writeError); });

    if (!writeError.empty())
    {
        outcome->status = SessionStatus::failed;
        outcome->errors.push_back(writeError);
    }
    for (size_t i = 0; i < order.size(); i++)
    {
        if (!finished[i])
            outcome->notScanned.push_back(order[i].path);
    }
}

// On the worker thread: the pool scans, the writer writes, and both post
// what happened.
void ScanSession::Impl::Work(const std::vector<ModuleFile>& order, std::vector<bool>* finished,
                             std::string* writeError)
{
    DatabaseWriter writer(db, PostWritten([this](const ModuleRecord& record) {
                              progress.done++;
                              if (callbacks.onModule)
                                  callbacks.onModule(record);
                          }));
    std::vector<std::wstring> paths;
    for (const ModuleFile& file : order)
        paths.push_back(file.path);
    ScanPool pool(setup.server, setup.servers, setup.crashRetries);
    {
        std::lock_guard<std::mutex> hold(poolLock);
        this->pool = &pool;
        if (cancelled)
            pool.Cancel();
    }
    PoolCallbacks own = PassCallbacks(paths, writer);
    own.onFinish = [&](size_t server, size_t module, ModuleResult&& result) {
        PostEnded(server, paths[module]);
        if (result.cancelled)
            return; // its entry stays as it was
        if (!writer.Error().empty())
        {
            pool.Cancel(); // the database cannot be written: stop
            return;
        }
        (*finished)[module] = true;
        ModuleRecord record;
        record.size = order[module].size;
        record.modified = order[module].modified;
        record.result = std::move(result);
        record.result.path = order[module].path;
        // A module scanned again keeps the presets read before until they
        // are read again: they say which module they were read with.
        std::optional<ModuleRecord> before = db.Find(record.result.path);
        if (before && before->result.presets && HasPresets(record.result.format))
            record.result.presets = std::move(before->result.presets);
        writer.Add(std::move(record));
    };
    pool.ScanAll(paths, own);
    {
        std::lock_guard<std::mutex> hold(poolLock);
        this->pool = nullptr;
    }
    *writeError = writer.Finish();
}

// On the session's thread: every event in its turn, without a lock held,
// until the worker is done and the queue empty.
void ScanSession::Impl::Deliver()
{
    for (;;)
    {
        std::function<void()> event;
        {
            std::unique_lock<std::mutex> hold(queueLock);
            queued.wait(hold, [&] { return !events.empty() || workerDone; });
            if (events.empty())
                return;
            event = std::move(events.front());
            events.pop_front();
        }
        event();
    }
}

ScanSession::ScanSession(PluginDatabase& db, SessionSetup setup, SessionCallbacks callbacks)
    : m_impl(new Impl(db, std::move(setup), std::move(callbacks)))
{
}

ScanSession::~ScanSession()
{
    if (m_impl->thread.joinable())
    {
        Cancel();
        m_impl->thread.join();
    }
}

SessionOutcome ScanSession::Run()
{
    return m_impl->Run();
}

bool ScanSession::Start()
{
    if (m_impl->thread.joinable())
        return false;
    try
    {
        m_impl->thread = std::thread([this] { m_impl->started = m_impl->Run(); });
    }
    catch (const std::exception&)
    {
        return false;
    }
    return true;
}

SessionOutcome ScanSession::Wait()
{
    if (m_impl->thread.joinable())
        m_impl->thread.join();
    return m_impl->started;
}

void ScanSession::Cancel()
{
    m_impl->cancelled = true;
    std::lock_guard<std::mutex> hold(m_impl->poolLock);
    if (m_impl->pool)
        m_impl->pool->Cancel();
}

bool ScanSession::Cancelled() const
{
    return m_impl->cancelled;
}

} // namespace orvanta
