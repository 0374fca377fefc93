// Several persistent servers fed from one queue. Each server is driven by a
// thread of its own through a ModuleScanner of its own; the queue is just
// the next index into the module list, taken under the pool's lock, and the
// same lock keeps the callbacks one at a time.
#include "orvanta/scan.h"
#include <algorithm>
#include <functional>
#include <atomic>
#include <mutex>
#include <thread>

namespace orvanta {

struct ScanPool::Impl
{
    ServerConfig config;
    int crashRetries = 1;
    std::vector<std::unique_ptr<ModuleScanner>> scanners; // made when first needed
    std::atomic<bool> cancelled{false};
    std::mutex lock; // the queue and the callbacks
    // The scanners as Cancel reaches them: a callback may cancel while it
    // holds 'lock'.
    std::mutex scannersLock;

    // What one server does with the module at an index: scan it and hand
    // the result over (called without the lock held).
    using Job = std::function<void(size_t server, ModuleScanner& scanner, size_t module, const ScanCallbacks& own)>;

    void FinishAll(const PoolCallbacks& callbacks);
    void Serve(size_t server, size_t count, size_t* next, const PoolCallbacks& callbacks, const Job& job);
    void Run(size_t count, const PoolCallbacks& callbacks, const Job& job);
};

void ScanPool::Impl::Serve(size_t server, size_t count, size_t* next, const PoolCallbacks& callbacks,
                           const Job& job)
{
    ModuleScanner& scanner = *scanners[server];
    ScanCallbacks own;
    own.onDialog = [&](const std::vector<DialogWindow>& windows) {
        std::lock_guard<std::mutex> hold(lock);
        if (callbacks.onDialog)
            callbacks.onDialog(server, windows);
    };
    own.onBlame = [&](const Blame& blame) {
        std::lock_guard<std::mutex> hold(lock);
        if (callbacks.onBlame)
            callbacks.onBlame(server, blame);
    };
    for (;;)
    {
        size_t module;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (cancelled || *next >= count)
                return;
            module = (*next)++;
            if (callbacks.onBegin)
                callbacks.onBegin(server, module);
        }
        job(server, scanner, module, own);
    }
}

ScanPool::ScanPool(ServerConfig config, int servers, int crashRetries) : m_impl(new Impl)
{
    m_impl->config = std::move(config);
    m_impl->crashRetries = crashRetries;
    m_impl->scanners.resize(servers < 1 ? 1 : (size_t)servers);
}

ScanPool::~ScanPool() = default;

std::wstring ScanPool::ServerDumpFolder(const std::wstring& dumpFolder, size_t server)
{
    if (dumpFolder.empty())
        return dumpFolder; // no dumps at all
    std::wstring folder = dumpFolder;
    if (folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder + L"server-" + std::to_wstring(server + 1);
}

void ScanPool::ScanAll(const std::vector<std::wstring>& modules, const PoolCallbacks& callbacks)
{
    m_impl->Run(modules.size(), callbacks,
                [&](size_t server, ModuleScanner& scanner, size_t module, const ScanCallbacks& own) {
                    ModuleResult result = scanner.ScanModule(modules[module], own);
                    std::lock_guard<std::mutex> hold(m_impl->lock);
                    if (callbacks.onFinish)
                        callbacks.onFinish(server, module, std::move(result));
                });
}

void ScanPool::ScanPresets(const std::vector<ModuleResult>& modules, const PoolCallbacks& callbacks,
                           const PresetsDone& onPresets)
{
    m_impl->Run(modules.size(), callbacks,
                [&](size_t server, ModuleScanner& scanner, size_t module, const ScanCallbacks& own) {
                    std::optional<ModulePresets> presets = scanner.ScanPresets(modules[module], own);
                    std::lock_guard<std::mutex> hold(m_impl->lock);
                    if (onPresets)
                        onPresets(server, module, std::move(presets));
                });
}

void ScanPool::Impl::Run(size_t modules, const PoolCallbacks& callbacks, const Job& job)
{
    size_t count = std::min(scanners.size(), modules);
    {
        // Under the lock: a Cancel from another thread reaches each
        // scanner made here.
        std::lock_guard<std::mutex> hold(scannersLock);
        for (size_t i = 0; i < count; i++)
        {
            if (!scanners[i])
            {
                ServerConfig own = config;
                own.dumpFolder = ScanPool::ServerDumpFolder(config.dumpFolder, i);
                scanners[i].reset(new ModuleScanner(own, crashRetries));
                if (cancelled)
                    scanners[i]->Cancel();
            }
        }
    }
    size_t next = 0;
    // The calling thread drives the first server. A thread that cannot be
    // made leaves its server out: the others take its share.
    std::vector<std::thread> threads;
    for (size_t i = 1; i < count; i++)
    {
        try
        {
            threads.emplace_back([&, i] { Serve(i, modules, &next, callbacks, job); });
        }
        catch (const std::exception&)
        {
            break;
        }
    }
    if (count > 0)
        Serve(0, modules, &next, callbacks, job);
    for (std::thread& thread : threads)
        thread.join();
    FinishAll(callbacks);
    // A cancel holds for this ScanAll alone: the next starts fresh servers.
    std::lock_guard<std::mutex> hold(scannersLock);
    if (cancelled)
    {
        for (std::unique_ptr<ModuleScanner>& scanner : scanners)
            scanner.reset();
        cancelled = false;
    }
}

// The servers end side by side: one that showed a window takes about two
// seconds to end under Wine, which one after the other adds up.
void ScanPool::Impl::FinishAll(const PoolCallbacks& callbacks)
{
    auto finish = [&](size_t server) {
        ScanCallbacks own;
        own.onBlame = [&](const Blame& blame) {
            std::lock_guard<std::mutex> hold(lock);
            if (callbacks.onBlame)
                callbacks.onBlame(server, blame);
        };
        scanners[server]->Finish(own);
    };
    std::vector<std::thread> enders;
    for (size_t i = 0; i < scanners.size(); i++)
    {
        if (!scanners[i])
            continue;
        try
        {
            enders.emplace_back(finish, i);
        }
        catch (const std::exception&)
        {
            finish(i);
        }
    }
    for (std::thread& thread : enders)
        thread.join();
}

void ScanPool::Cancel()
{
    std::lock_guard<std::mutex> hold(m_impl->scannersLock);
    m_impl->cancelled = true;
    for (const std::unique_ptr<ModuleScanner>& scanner : m_impl->scanners)
    {
        if (scanner)
            scanner->Cancel();
    }
}

bool ScanPool::Cancelled() const
{
    return m_impl->cancelled;
}

} // namespace orvanta
