// What every format's scan shares, as a format unit's Scan uses it: the
// module's result, requests on the scanner's one server with crash retries
// and blame of an earlier module, the dialogs, and the steps all formats
// take alike. ModuleScanner (scanning/module_scanner.cpp) provides it.
#pragma once
#include "server_process/scan_server.h"
#include "orvanta/scan.h"
#include <functional>
#include <string>

namespace orvanta {

// One request line of a format's scan.
struct ScanRequest
{
    using Send = std::function<RequestOutcome(ScanServer& server, const DialogFn& onDialog)>;
    // What the server loads (the module, or a VST3 bundle's binary): a crash
    // faulting in another module the server scanned earlier is that one's.
    std::wstring file;
    Send send;
    // Sent first whenever the server is a fresh one (a VST 2 shell's own
    // request before one of its sub-plugins, so the shell is cached again);
    // its outcome does not matter.
    Send sendFirst = {};
};

class ScanContext
{
public:
    // The module being scanned: path and format are set, the unit fills in
    // the rest.
    virtual ModuleResult& Result() = 0;
    // ServerConfig::moduleInfoOnly: list a VST3 bundle from its file alone.
    virtual bool ModuleInfoOnly() const = 0;
    // ServerConfig::x86ServerExe: empty when modules built for x86 are not
    // scanned.
    virtual const std::wstring& X86ServerExe() const = 0;
    // The file requests load for this module when it is not the module's
    // own path (a bundle's binary): a dump names that file, a blame the module.
    virtual void RememberBinary(const std::wstring& binary) = 0;
    // The request, and again when a crash of an earlier module cut it off;
    // its time counts to the module's scanMs.
    virtual RequestOutcome Run(const ScanRequest& request) = 0;
    // Run, again in a fresh server after a crash as often as the scanner
    // retries; attempts counts the requests (blamed reruns do not count).
    virtual RequestOutcome RunWithRetries(const ScanRequest& request, int* attempts) = 0;
    virtual bool ServerRunning() const = 0;
    // Ends the server between requests; a crash found then (a thread a
    // module left running) is blamed as any other.
    virtual void EndServer() = 0;

    // The steps every format takes alike.
    // The binary's machine recorded, and the module's requests sent to the
    // server of that machine from here on; false, the module failed without
    // a request, when no server of ours can load it.
    bool LoadableMachine(const std::wstring& binary);
    // The module failed in one attempt without a request: why is also its
    // load problem.
    void FailUnasked(const std::string& why);
    // The outcome of the module's own request as the module's.
    void TakeOutcome(const RequestOutcome& outcome);
    // After "err=126", the DLLs the binary needs that are nowhere Windows looks.
    void NoteMissingDependencies(const RequestOutcome& outcome, const std::wstring& binary);
    // The crashes the server survived in guarded clean-up steps, as findings
    // about who ("class ...: ", "" for the module).
    void NoteSurvivedCrashes(const RequestOutcome& outcome, const std::string& who);
    // The module's clean-up in a request of its own, not retried.
    void FreeModule(const ScanRequest& free);
    // One plugin's own request, recorded on its entry whatever happens to
    // it; after a crash survived in its clean-up the module is freed and the
    // server ended.
    RequestOutcome RunPlugin(const ScanRequest& request, const ScanRequest& free, const std::string& who,
                             PluginEntry* entry);

protected:
    ~ScanContext() = default;
    // The module's requests go to the 32-bit server from here on.
    virtual void UseX86Server() = 0;
};

} // namespace orvanta
