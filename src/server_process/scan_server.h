// One scan server process driven the way a host drives it, request by
// request, every answer classified. The wire level under ModuleScanner:
// hosts use ModuleScanner or ScanPool (orvanta/scan.h); tests and the
// benchmarks drive a server directly through this class.
#pragma once
#include "formats/clap/clap_presets_parser.h"
#include "formats/clap/clap_report_parser.h"
#include "formats/vst3/vst3_report_parser.h"
#include "orvanta/scan.h"
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// The outcome of one request line.
struct RequestOutcome
{
    Status status = Status::lost;
    std::string error;                  // failed: the server's error text; else why
    std::optional<Vst2Report> report; // ok and failed: the parsed block
    // A VST3 request's parsed block instead (ok and failed), by its kind.
    std::optional<Vst3ModuleReport> vst3Module;
    std::optional<Vst3ClassReport> vst3Class;
    // A CLAP request's parsed block instead (ok and failed), by its kind.
    std::optional<ClapModuleReport> clapModule;
    std::optional<ClapPluginReport> clapPlugin;
    // A CLAP preset request's parsed block instead: the provider list, or
    // one provider's.
    std::optional<ClapProviderList> clapProviders;
    std::optional<ClapProviderReport> clapProvider;
    // VST3 and CLAP: the step the request failed in (the block's phase), or crashed,
    // hung or was lost in (the last "info:Phase: " line); "" when none.
    std::string phase;
    // VST3 and CLAP: the crashes the server survived in guarded clean-up steps, as
    // it wrote them ("Crash in terminate (C0000005), ignored").
    std::vector<std::string> survivedCrashes;
    std::vector<std::string> lines;     // every tagged line, without its "\n"
    int exitCode = -1;                  // the server's exit code when it ended by itself
                                        // (crashed, lost), else -1
    std::optional<CrashInfo> crash;     // crashed: the dump and what it says
    std::vector<DialogWindow> windows;  // timeout: the windows it waited on
    bool cancelled = false;             // Cancel ended it (status lost)
    uint32_t elapsedMs = 0;             // request written to outcome known
};

// Started on the first request and again after every outcome that ended
// it. Not thread-safe: one thread drives one server.
class ScanServer
{
public:
    explicit ScanServer(ServerConfig config);
    ~ScanServer(); // closes the request pipe and waits for the server to end
    ScanServer(const ScanServer&) = delete;
    ScanServer& operator=(const ScanServer&) = delete;

    // Sends "vst2|path\n" or "vst2|path>XXXXXXXX\n" (the plain VST 2 request
    // with the member plain requests leave out, hasEditor) and collects the
    // answer.
    RequestOutcome Request(const std::wstring& path, std::optional<uint32_t> shellId = {},
                           const DialogFn& onDialog = {});
    // Sends "vst3|binary\n" (the module request) or, with a class ID,
    // "vst3|binary>CID\n" (one class's instance) and collects the answer.
    // A class answer for another class than the one asked is out of step.
    RequestOutcome RequestVst3(const std::wstring& binary, const std::string& classId = {},
                               const DialogFn& onDialog = {});
    // Sends "vst3|\n": the server frees the module it holds (factory
    // release, ExitDll), so that a module's clean-up is part of its own scan.
    // binary is the module held, for the blame of a crash.
    RequestOutcome FreeVst3(const std::wstring& binary, const DialogFn& onDialog = {});
    // Sends "clap|path\n" (the module request) or, with a plugin ID,
    // "clap|path>ID\n" (one plugin's instance) and collects the answer. An
    // answer for another plugin than the one asked is out of step.
    RequestOutcome RequestClap(const std::wstring& path, const std::string& pluginId = {},
                               const DialogFn& onDialog = {});
    // Sends "clap-presets|path\n" (the module's preset-discovery providers)
    // or, with a provider ID, "clap-presets|path>ID\n" (what that provider
    // declares and the presets it gives) and collects the answer. An answer
    // for another provider than the one asked is out of step.
    RequestOutcome RequestClapPresets(const std::wstring& path, const std::string& providerId = {},
                                      const DialogFn& onDialog = {});
    // Sends "clap|\n": the server frees the module it holds (the entry's
    // deinit, unloading). path is the module held, for the blame of a crash.
    RequestOutcome FreeClap(const std::wstring& path, const DialogFn& onDialog = {});
    // The banner text of the last server started ("" before the first).
    const std::string& Banner() const;
    // Ends the running server, if any, the way a host closes down (request
    // pipe closed, then wait); false when it had to be terminated.
    bool Stop();
    // Stop, telling how the server ended after its last answer: ok when it
    // ended cleanly or none was running; crashed, with the dump, when a
    // thread a plugin left running crashed it (a crash in progress is waited
    // for, as during a request); lost when it had to be terminated.
    RequestOutcome Finish();
    bool Running() const;
    // From any thread: the server running now is ended at once, a request
    // in flight ends cancelled, and every later request ends cancelled
    // without starting a server.
    void Cancel();
    bool Cancelled() const;
    // Paths of the modules requested since this server process started,
    // each once; after an outcome that ended the server, still those of the
    // ended process until the next request starts a fresh one.
    const std::vector<std::wstring>& ScannedByThisProcess() const;

    struct Impl;

private:
    enum class Answer
    {
        vst2,
        vst3Module,
        vst3Class,
        vst3Free,
        clapModule,
        clapPlugin,
        clapFree,
        clapProviders,
        clapProvider
    };
    // Starts the server if need be, writes the line, awaits the answer and
    // reads it.
    RequestOutcome Exchange(const std::wstring& path, const std::string& line, Answer answer,
                            const std::string& pluginId, const DialogFn& onDialog);
    void ReadAnswer(Answer answer, const std::string& pluginId, RequestOutcome* outcome);

    std::unique_ptr<Impl> m_impl;
};

} // namespace orvanta
