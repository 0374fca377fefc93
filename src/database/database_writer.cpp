#include "orvanta/database_writer.h"
#include "orvanta/paths.h"

namespace orvanta {

DatabaseWriter::DatabaseWriter(PluginDatabase& db, AfterWrite afterWrite)
    : m_db(db), m_afterWrite(std::move(afterWrite)), m_thread([this] { Loop(); })
{
}

DatabaseWriter::~DatabaseWriter()
{
    Finish();
}

void DatabaseWriter::Add(ModuleRecord record)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_records.push_back(std::move(record));
    }
    m_wake.notify_all();
}

void DatabaseWriter::Add(const Blame& blame)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_blames.push_back(blame);
    }
    m_wake.notify_all();
}

std::string DatabaseWriter::Error()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_error;
}

std::string DatabaseWriter::Finish()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_finishing = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    return Error();
}

void DatabaseWriter::Loop()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;)
    {
        m_wake.wait(hold, [&] { return m_finishing || !m_records.empty() || !m_blames.empty(); });
        if (m_records.empty() && m_blames.empty())
            return; // finishing, and all is written
        std::vector<ModuleRecord> records;
        std::vector<Blame> blames;
        records.swap(m_records);
        blames.swap(m_blames);
        if (!m_error.empty())
            continue; // a write failed: the run is ending, the rest is dropped
        hold.unlock();

        // A crash found later always concerns a module finished before it,
        // possibly in this same batch.
        std::vector<WrittenBlame> written;
        for (const Blame& blame : blames)
        {
            WrittenBlame w{blame, {}, {}};
            for (const ModuleRecord& record : records)
            {
                if (SamePath(record.result.path, blame.path))
                    w.before = record.result;
            }
            if (!w.before)
            {
                if (auto found = m_db.Find(blame.path))
                    w.before = found->result;
            }
            written.push_back(std::move(w));
        }
        std::string error;
        bool ok = m_db.Apply(records, blames, &error);
        if (ok)
        {
            for (WrittenBlame& w : written)
            {
                if (auto found = m_db.Find(w.blame.path))
                    w.after = found->result;
            }
            if (m_afterWrite)
                m_afterWrite(records, written);
        }
        hold.lock();
        if (!ok && m_error.empty())
            m_error = error;
    }
}

} // namespace orvanta
