// The one writer of the database during a run. The servers' threads hand it
// finished modules and crashes found later and go straight on scanning; its
// own thread writes them, all that came in during the previous write going
// into the next one, so the file is never written by two threads at once and
// never holds up a scan.
#pragma once
#include "orvanta_scan.h"
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvantacli {

// A crash found later, with the module's entry as it was before and after.
struct WrittenBlame
{
    orvanta::Blame blame;
    std::optional<orvanta::ModuleResult> before, after;
};

class ResultWriter
{
public:
    // afterWrite runs on the writer's thread after each successful write,
    // with what that write added: the records in the order they came, then
    // the crashes found later.
    using AfterWrite = std::function<void(const std::vector<orvanta::ModuleRecord>& records,
                                          const std::vector<WrittenBlame>& blames)>;
    ResultWriter(orvanta::PluginDatabase& db, AfterWrite afterWrite);
    ~ResultWriter(); // Finish()

    // From any thread.
    void Add(orvanta::ModuleRecord record);
    void Add(const orvanta::Blame& blame);
    // The banner of the servers, kept with the next write.
    void SetServer(const std::string& banner);
    // The first write that failed ("" when none did); after one, nothing
    // more is written.
    std::string Error();
    // Writes what is still queued, ends the thread and returns Error().
    std::string Finish();

private:
    void Loop();

    orvanta::PluginDatabase& m_db;
    AfterWrite m_afterWrite;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<orvanta::ModuleRecord> m_records;
    std::vector<orvanta::Blame> m_blames;
    std::string m_server;
    bool m_finishing = false;
    std::string m_error;
    std::thread m_thread;
};

} // namespace orvantacli
