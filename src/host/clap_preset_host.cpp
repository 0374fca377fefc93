#include "clap_preset_host.h"
#include "clap_host.h"
#include "../base/compat.h"

using namespace Clap;

namespace {

enum Calls
{
    NoCalls,
    IndexerCalls,
    ReceiverCalls
};

// Which calls are open, to which recorder, on which thread. Written only by
// the request's thread; read by whatever thread the plugin calls from.
volatile LONG OpenCalls = NoCalls;
volatile DWORD CallsThread = 0;
CClapPresetRecorder* volatile Recorder = nullptr;

// The recorder when these calls are open to the calling thread, else null.
CClapPresetRecorder* Accepting(Calls calls)
{
    if (OpenCalls != calls || CallsThread != GetCurrentThreadId())
        return nullptr;
    return Recorder;
}

bool DeclareFileType(const clap_preset_discovery_indexer*, const clap_preset_discovery_filetype* type)
{
    CClapPresetRecorder* recorder = Accepting(IndexerCalls);
    return recorder && type && recorder->DeclareFileType(type);
}

bool DeclareLocation(const clap_preset_discovery_indexer*, const clap_preset_discovery_location* location)
{
    CClapPresetRecorder* recorder = Accepting(IndexerCalls);
    return recorder && location && recorder->DeclareLocation(location);
}

bool DeclareSoundpack(const clap_preset_discovery_indexer*, const clap_preset_discovery_soundpack* pack)
{
    CClapPresetRecorder* recorder = Accepting(IndexerCalls);
    return recorder && pack && recorder->DeclareSoundpack(pack);
}

// The server offers no extension to providers.
const void* IndexerExtension(const clap_preset_discovery_indexer*, const char*) { return nullptr; }

clap_preset_discovery_indexer Indexer = {
    {1, 2, 2}, "", "", "", "", nullptr, DeclareFileType, DeclareLocation, DeclareSoundpack, IndexerExtension,
};

typedef clap_preset_discovery_metadata_receiver Receiver;

void OnError(const Receiver*, int32_t status, const char* message)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->OnError(status, message);
}

bool BeginPreset(const Receiver*, const char* name, const char* loadKey)
{
    CClapPresetRecorder* recorder = Accepting(ReceiverCalls);
    return recorder && recorder->BeginPreset(name, loadKey);
}

void AddPluginId(const Receiver*, const clap_universal_plugin_id* id)
{
    CClapPresetRecorder* recorder = Accepting(ReceiverCalls);
    if (recorder && id)
        recorder->AddPluginId(id);
}

void SetSoundpackId(const Receiver*, const char* id)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->SetSoundpackId(id);
}

void SetFlags(const Receiver*, uint32_t flags)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->SetFlags(flags);
}

void AddCreator(const Receiver*, const char* creator)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->AddCreator(creator);
}

void SetDescription(const Receiver*, const char* description)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->SetDescription(description);
}

void SetTimestamps(const Receiver*, clap_timestamp created, clap_timestamp modified)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->SetTimestamps(created, modified);
}

void AddFeature(const Receiver*, const char* feature)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->AddFeature(feature);
}

void AddExtraInfo(const Receiver*, const char* key, const char* value)
{
    if (CClapPresetRecorder* recorder = Accepting(ReceiverCalls))
        recorder->AddExtraInfo(key, value);
}

Receiver MetadataReceiver = {
    nullptr,    OnError,        BeginPreset,   AddPluginId, SetSoundpackId, SetFlags,
    AddCreator, SetDescription, SetTimestamps, AddFeature,  AddExtraInfo,
};

void Open(Calls calls, CClapPresetRecorder* recorder)
{
    OpenCalls = NoCalls;
    Recorder = recorder;
    CallsThread = GetCurrentThreadId();
    MetadataReceiver.receiver_data = calls == ReceiverCalls ? recorder : nullptr;
    OpenCalls = calls;
}

} // namespace

const clap_preset_discovery_indexer* ClapPresetIndexer(CClapPresetRecorder* recorder)
{
    const clap_host* host = ClapHost();
    Indexer.version = host->version;
    Indexer.name = host->name;
    Indexer.vendor = host->vendor;
    Indexer.url = host->url;
    Indexer.version_text = host->version_text;
    Indexer.indexer_data = recorder;
    return &Indexer;
}

const clap_preset_discovery_metadata_receiver* ClapPresetReceiver() { return &MetadataReceiver; }

void OpenIndexerCalls(CClapPresetRecorder* recorder) { Open(IndexerCalls, recorder); }

void OpenReceiverCalls(CClapPresetRecorder* recorder) { Open(ReceiverCalls, recorder); }

void ClosePresetCalls()
{
    OpenCalls = NoCalls;
    Recorder = nullptr;
    CallsThread = 0;
    MetadataReceiver.receiver_data = nullptr;
}
