// The one writer of the database while a scan runs. Scanning threads hand it
// finished modules and crashes found later and go straight on scanning; its
// own thread writes them, all that came in during one write going into the
// next, so the file is never written by two threads at once and a big
// database never holds up a scan.
#pragma once
#include "orvanta/database.h"
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvanta {

// A crash found later, with the module's entry as it was before and after.
struct WrittenBlame
{
    Blame blame;
    std::optional<ModuleResult> before, after;
};

class DatabaseWriter
{
public:
    // afterWrite runs on the writer's thread after each successful write,
    // with what that write added: the records in the order they came, then
    // the crashes found later. It may be empty.
    using AfterWrite = std::function<void(const std::vector<ModuleRecord>& records,
                                          const std::vector<WrittenBlame>& blames)>;
    DatabaseWriter(PluginDatabase& db, AfterWrite afterWrite);
    ~DatabaseWriter(); // Finish()
    DatabaseWriter(const DatabaseWriter&) = delete;
    DatabaseWriter& operator=(const DatabaseWriter&) = delete;

    // From any thread. The record's result carries the banner of its server.
    void Add(ModuleRecord record);
    void Add(const Blame& blame);
    // The first write that failed ("" when none did); after one, nothing
    // more is written.
    std::string Error();
    // Writes what is still queued, ends the thread and returns Error().
    std::string Finish();

private:
    void Loop();

    PluginDatabase& m_db;
    AfterWrite m_afterWrite;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<ModuleRecord> m_records;
    std::vector<Blame> m_blames;
    bool m_finishing = false;
    std::string m_error;
    std::thread m_thread;
};

} // namespace orvanta
