// The host's side of CLAP preset discovery: the indexer record handed to a
// provider's create, and the metadata receiver handed to its get_metadata.
// Both live as long as the process (a provider may keep the pointers, and
// threads it leaves behind may still call them). Each accepts calls only
// while its step runs and only on the thread running it: the indexer's
// declarations during the provider's init, the receiver's calls during one
// get_metadata. Any other call is refused (false, or nothing done) without
// reaching the request.
#pragma once
#include "clap_abi.h"

// What a request does with the calls the records accept. The pointers are
// the plugin's and valid only during the call: copy what is kept at once.
class CClapPresetRecorder
{
public:
    virtual bool DeclareFileType(const Clap::clap_preset_discovery_filetype* type) = 0;
    virtual bool DeclareLocation(const Clap::clap_preset_discovery_location* location) = 0;
    virtual bool DeclareSoundpack(const Clap::clap_preset_discovery_soundpack* pack) = 0;
    virtual void OnError(int32_t status, const char* message) = 0;
    virtual bool BeginPreset(const char* name, const char* loadKey) = 0;
    virtual void AddPluginId(const Clap::clap_universal_plugin_id* id) = 0;
    virtual void SetSoundpackId(const char* id) = 0;
    virtual void SetFlags(uint32_t flags) = 0;
    virtual void AddCreator(const char* creator) = 0;
    virtual void SetDescription(const char* description) = 0;
    virtual void SetTimestamps(Clap::clap_timestamp created, Clap::clap_timestamp modified) = 0;
    virtual void AddFeature(const char* feature) = 0;
    virtual void AddExtraInfo(const char* key, const char* value) = 0;

protected:
    ~CClapPresetRecorder() = default;
};

// The server's indexer: the texts of its CLAP host record, indexer_data the
// request's recorder (set here, for the provider created with it), and
// get_extension answering null.
const Clap::clap_preset_discovery_indexer* ClapPresetIndexer(CClapPresetRecorder* recorder);
// The server's metadata receiver; receiver_data is the recorder of the
// calls open at the time (null between them).
const Clap::clap_preset_discovery_metadata_receiver* ClapPresetReceiver();

// Opens the indexer's calls (declarations) or the receiver's to the
// recorder, from the calling thread only, until ClosePresetCalls. Opening
// one closes the other.
void OpenIndexerCalls(CClapPresetRecorder* recorder);
void OpenReceiverCalls(CClapPresetRecorder* recorder);
void ClosePresetCalls();
