#include "clap_presets_probe.h"
#include "clap_presets_report.h"
#include "clap_probe.h"
#include "clap_report.h"
#include "library_cache.h"
#include "module_request.h"
#include "report_lines.h"
#include "scan_phase.h"
#include "../base/log_output.h"
#include "../base/memory.h"
#include "../base/message_pump.h"
#include "../crash/crash_dump.h"
#include "../exchange/exchange_text.h"
#include "../host/clap_preset_host.h"
#include <stdlib.h>

using namespace Clap;

namespace {

const wchar_t PhasePresetFactory[] = L"preset factory";
const wchar_t PhaseProviders[] = L"providers";
const wchar_t PhaseCreate[] = L"create";
const wchar_t PhaseInit[] = L"init";
const wchar_t PhaseMetadata[] = L"metadata";
const wchar_t PhaseDestroy[] = L"destroy";

// The bounds of the walk through a provider's file locations, per request.
const int MaxWalkDepth = 8;           // folders below the location
const int MaxWalkFiles = 20000;       // files looked at
const ULONGLONG MaxWalkMs = 10000;    // from the start of the metadata phase, get_metadata included

CSharedString Empty() { return CSharedString(L"", 0); }

// Copies the text into *into; false when memory ran out.
bool Copy(CSharedString* into, const char* text, bool* cut)
{
    *into = CopyClapText(text, cut);
    return !into->IsNull();
}

// Adds the item to its list, or deletes it and notes that memory ran out.
template <typename List, typename T>
bool Keep(List& list, T* item, bool made, bool& noMemory)
{
    if (item && made && list.Append(item))
        return true;
    delete item;
    noMemory = true;
    return false;
}

void CallDestroy(void* provider)
{
    const clap_preset_discovery_provider* p = static_cast<const clap_preset_discovery_provider*>(provider);
    p->destroy(p);
}

// The module's preset-discovery factory, under its final ID or else under
// the draft one; null when it has none, or one with a null function.
const clap_preset_discovery_factory* FindFactory(const clap_plugin_entry* entry, const char** id)
{
    EnterPhase(PhasePresetFactory);
    const char* ids[] = {PresetDiscoveryFactoryId, PresetDiscoveryFactoryDraftId};
    for (const char* candidate : ids)
    {
        const clap_preset_discovery_factory* factory =
            static_cast<const clap_preset_discovery_factory*>(entry->get_factory(candidate));
        if (!factory)
            continue;
        *id = candidate;
        return factory->count && factory->get_descriptor && factory->create ? factory : nullptr;
    }
    return nullptr;
}

// ----------------------------------------------------- the provider list

// One descriptor, its texts copied at once. False when memory ran out.
bool ReadProvider(const clap_preset_discovery_provider_descriptor* d, uint32_t index, CClapProvider& p)
{
    p.index = index;
    if (!d || !d->id || !d->name)
    {
        // Not a provider a host can ask for; what else it says is not read.
        p.problem = !d ? L"no descriptor" : !d->id ? L"no id" : L"no name";
        return true;
    }
    p.hasVersion = true;
    p.clapVersion[0] = d->version.major;
    p.clapVersion[1] = d->version.minor;
    p.clapVersion[2] = d->version.revision;
    return Copy(&p.id, d->id, nullptr) && Copy(&p.name, d->name, nullptr) && Copy(&p.vendor, d->vendor, nullptr);
}

void ReadProviders(const clap_plugin_entry* entry, CClapProvidersInfo& info)
{
    const char* id = "";
    const clap_preset_discovery_factory* factory = FindFactory(entry, &id);
    // A module without presets is no failure: the list is empty.
    if (!factory)
        return;
    info.noMemory = !Copy(&info.factory, id, nullptr);
    EnterPhase(PhaseProviders);
    info.providerCount = factory->count(factory);
    uint32_t limit = info.providerCount < (uint32_t)MaxClapProviders ? info.providerCount : (uint32_t)MaxClapProviders;
    for (uint32_t i = 0; i < limit && !info.noMemory; i++)
    {
        CClapProvider* p = new CClapProvider;
        Keep(info.providers, p, p && ReadProvider(factory->get_descriptor(factory, i), i, *p), info.noMemory);
    }
}

void ListRequest(const wchar_t* request, const CSharedString& path)
{
    LogInfo(L"Scanning CLAP presets: '%s'\n", request);
    CClapProvidersInfo info;
    ClapOpenOutcome outcome;
    if (OpenClapModule(path, outcome))
    {
        ReadProviders(Cache.clapState.entry, info);
        PumpMessages();
        LogInfo(L"Keeping CLAP library loaded for now...\n");
    }
    else
    {
        info.error = outcome.error;
        info.phase = outcome.phase;
    }
    info.noMemory = info.noMemory || outcome.noMemory;
    LogInfo(L"Finished\n");
    WriteClapProvidersReport(info);
}

// ----------------------------------------------------------- a provider

// Records what the provider declares and gives, as the server's indexer
// and receiver let the calls through (clap_preset_host).
class CPresetRecorder final : public CClapPresetRecorder
{
public:
    explicit CPresetRecorder(CClapProviderInfo& info) : m_info(info) {}

    // Before each get_metadata: the location its presets belong to, and for
    // the file kind the file and its name without the extension.
    void StartLocation(const CClapPresetLocation* location, const CSharedString& file, const CSharedString& title)
    {
        m_location = location;
        m_file = file;
        m_title = title;
        m_preset = nullptr;
        m_begun = false;
    }

    bool DeclareFileType(const clap_preset_discovery_filetype* type) override
    {
        if (m_info.fileTypes.Count() >= MaxPresetDeclarations)
            return Refuse(ProviderCutFileTypes);
        bool* cut = &m_info.cut[ProviderCutFileTypeTexts];
        CClapFileType* t = new CClapFileType;
        bool made = t && Copy(&t->name, type->name, cut) && Copy(&t->description, type->description, cut) &&
                    Copy(&t->extension, type->file_extension, cut);
        return Keep(m_info.fileTypes, t, made, m_info.noMemory);
    }

    bool DeclareLocation(const clap_preset_discovery_location* location) override
    {
        // A kind the server does not know cannot be read: refused.
        if (location->kind != PresetLocationFile && location->kind != PresetLocationPlugin)
            return false;
        if (m_info.locations.Count() >= MaxPresetDeclarations)
            return Refuse(ProviderCutLocations);
        bool* cut = &m_info.cut[ProviderCutLocationTexts];
        CClapPresetLocation* l = new CClapPresetLocation;
        bool made = l && Copy(&l->name, location->name, cut);
        if (made)
        {
            l->flags = location->flags;
            l->inPlugin = location->kind == PresetLocationPlugin;
            made = l->inPlugin ? !(l->location = Empty()).IsNull() : Copy(&l->location, location->location, cut);
        }
        return Keep(m_info.locations, l, made, m_info.noMemory);
    }

    bool DeclareSoundpack(const clap_preset_discovery_soundpack* pack) override
    {
        if (m_info.soundpacks.Count() >= MaxPresetDeclarations)
            return Refuse(ProviderCutSoundpacks);
        bool* cut = &m_info.cut[ProviderCutSoundpackTexts];
        CClapSoundpack* s = new CClapSoundpack;
        bool made = s && Copy(&s->id, pack->id, cut) && Copy(&s->name, pack->name, cut) &&
                    Copy(&s->description, pack->description, cut) && Copy(&s->homepage, pack->homepage_url, cut) &&
                    Copy(&s->vendor, pack->vendor, cut) && Copy(&s->image, pack->image_path, cut);
        if (made)
        {
            s->flags = pack->flags;
            s->released = pack->release_timestamp;
        }
        return Keep(m_info.soundpacks, s, made, m_info.noMemory);
    }

    void OnError(int32_t status, const char* message) override
    {
        if (m_info.errors.Count() >= MaxPresetDeclarations)
        {
            Refuse(ProviderCutErrors);
            return;
        }
        CClapPresetError* e = new CClapPresetError;
        bool made = e && !(e->location = m_file).IsNull() &&
                    Copy(&e->message, message, &m_info.cut[ProviderCutErrorTexts]);
        if (made)
            e->status = status;
        Keep(m_info.errors, e, made, m_info.noMemory);
    }

    bool BeginPreset(const char* name, const char* loadKey) override
    {
        m_begun = true;
        return Begin(name, loadKey);
    }

    void AddPluginId(const clap_universal_plugin_id* id) override
    {
        if (CClapPreset* p = Current())
            AddItem(*p, p->plugins, PresetCutPlugins, id->abi, id->id, true);
    }

    void SetSoundpackId(const char* id) override
    {
        if (CClapPreset* p = Current())
            m_info.noMemory = m_info.noMemory || !Copy(&p->soundpack, id, &p->cut[PresetCutSoundpack]);
    }

    void SetFlags(uint32_t flags) override
    {
        if (CClapPreset* p = Current())
            p->flags = flags;
    }

    void AddCreator(const char* creator) override
    {
        if (CClapPreset* p = Current())
            AddItem(*p, p->creators, PresetCutCreators, creator, nullptr, false);
    }

    void SetDescription(const char* description) override
    {
        if (CClapPreset* p = Current())
            m_info.noMemory = m_info.noMemory || !Copy(&p->description, description, &p->cut[PresetCutDescription]);
    }

    void SetTimestamps(clap_timestamp created, clap_timestamp modified) override
    {
        if (CClapPreset* p = Current())
        {
            p->created = created;
            p->modified = modified;
        }
    }

    void AddFeature(const char* feature) override
    {
        if (CClapPreset* p = Current())
            AddItem(*p, p->features, PresetCutFeatures, feature, nullptr, false);
    }

    void AddExtraInfo(const char* key, const char* value) override
    {
        if (CClapPreset* p = Current())
            AddItem(*p, p->extra, PresetCutExtra, key, value, true);
    }

private:
    bool Refuse(ClapProviderCut list)
    {
        m_info.cut[list] = true;
        return false;
    }

    // Starts the next preset: counted always, listed while the list is
    // below its bound. A null name is the file's name without its
    // extension (empty for the plugin kind).
    bool Begin(const char* name, const char* loadKey)
    {
        m_preset = nullptr;
        if (m_info.presetCount < UINT32_MAX)
            m_info.presetCount++;
        if (m_info.presets.Count() >= MaxListedPresets)
            return Refuse(ProviderCutPresets);
        CClapPreset* p = new CClapPreset;
        bool made = p && !(p->location = m_file).IsNull() && Copy(&p->loadKey, loadKey, &p->cut[PresetCutLoadKey]) &&
                    !(p->soundpack = Empty()).IsNull() && !(p->description = Empty()).IsNull();
        if (made)
        {
            p->inPlugin = m_location->inPlugin;
            p->flags = m_location->flags;
            made = name ? Copy(&p->name, name, &p->cut[PresetCutName]) : !(p->name = m_title).IsNull();
        }
        if (!Keep(m_info.presets, p, made, m_info.noMemory))
            return false;
        m_preset = p;
        return true;
    }

    // The preset the metadata calls go to: the one begun last, or for a
    // file whose provider gives metadata without beginning a preset, one
    // for the file itself. Null when it is not listed.
    CClapPreset* Current()
    {
        if (!m_begun && !m_location->inPlugin)
        {
            m_begun = true;
            Begin(nullptr, nullptr);
        }
        return m_preset;
    }

    // One text, or a pair of them, to one of the preset's lists.
    void AddItem(CClapPreset& p, CClapPresetItemList& list, ClapPresetCut member, const char* first,
                 const char* second, bool pair)
    {
        if (list.Count() >= MaxPresetItems)
        {
            p.cut[member] = true;
            return;
        }
        CClapPresetItem* item = new CClapPresetItem;
        bool made = item && Copy(&item->first, first, &p.cut[member]) &&
                    (!pair || Copy(&item->second, second, &p.cut[member]));
        Keep(list, item, made, m_info.noMemory);
    }

    CClapProviderInfo& m_info;
    const CClapPresetLocation* m_location = nullptr;
    CSharedString m_file, m_title;
    CClapPreset* m_preset = nullptr;
    bool m_begun = false; // the provider began a preset in this get_metadata
};

// Where the walk through the file locations stands.
struct CWalk
{
    ULONGLONG start = 0;
    int files = 0;        // looked at so far
    bool stopped = false; // a bound of files or time was reached: nothing more is walked
};

// One entry of a folder, for walking it in name order.
struct CWalkEntry
{
    CSharedString name;
    bool folder = false;

    static void* operator new(size_t size) noexcept { return MemAlloc(size); }
    static void operator delete(void* block) noexcept { MemFree(block); }
};
typedef Simple::CVector<CWalkEntry*, Simple::SOwnedPtr, CWalkEntry*> CWalkEntryList;

// Names in the order of their UTF-16 units.
int CompareEntries(const void* a, const void* b)
{
    const wchar_t* x = (*static_cast<CWalkEntry* const*>(a))->name;
    const wchar_t* y = (*static_cast<CWalkEntry* const*>(b))->name;
    for (; *x && *x == *y; x++, y++)
    {
    }
    return (int)*x - (int)*y;
}

// The part of a path after its last separator.
const wchar_t* FileName(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; c++)
        if (*c == L'\\' || *c == L'/')
            name = c + 1;
    return name;
}

// The last dot of a file name, or null.
const wchar_t* LastDot(const wchar_t* name)
{
    const wchar_t* dot = nullptr;
    for (const wchar_t* c = name; *c; c++)
        if (*c == L'.')
            dot = c;
    return dot;
}

// A file name's extension (after its last dot; empty without one).
const wchar_t* Extension(const wchar_t* name)
{
    const wchar_t* dot = LastDot(name);
    return dot ? dot + 1 : L"";
}

// A file name without its extension.
CSharedString Title(const wchar_t* name)
{
    const wchar_t* dot = LastDot(name);
    return CSharedString(name, dot ? (int)(dot - name) : lstrlenW(name));
}

class CProviderRun
{
public:
    CProviderRun(const clap_preset_discovery_provider* provider, CPresetRecorder& recorder, CClapProviderInfo& info)
        : m_provider(provider), m_recorder(recorder), m_info(info)
    {
    }

    // Every declared location in order: a plugin location given at once, a
    // file location as the file it names or the folder walked.
    void ReadLocations()
    {
        m_walk.start = GetTickCount64();
        for (int i = 0; i < m_info.locations.Count() && !m_info.noMemory; i++)
        {
            const CClapPresetLocation* location = m_info.locations.Element(i);
            if (location->inPlugin)
                GiveLocation(location, PresetLocationPlugin, nullptr, Empty(), Empty());
            else
                ReadFileLocation(location);
        }
    }

private:
    void GiveLocation(const CClapPresetLocation* location, uint32_t kind, const char* path, const CSharedString& file,
                      const CSharedString& title)
    {
        if (file.IsNull() || title.IsNull())
        {
            m_info.noMemory = true;
            return;
        }
        m_recorder.StartLocation(location, file, title);
        // A plugin may have put a crash filter of its own in place since.
        SetUnhandledExceptionFilter(CrashFilter);
        OpenReceiverCalls(&m_recorder);
        m_provider->get_metadata(m_provider, kind, path, ClapPresetReceiver());
        ClosePresetCalls();
    }

    // False, with the bound named in cut, once the walk has to stop.
    bool WithinTime()
    {
        if (!m_walk.stopped && GetTickCount64() - m_walk.start > MaxWalkMs)
        {
            m_walk.stopped = true;
            m_info.cut[ProviderCutWalkTime] = true;
        }
        return !m_walk.stopped;
    }

    bool CountFile()
    {
        if (!m_walk.stopped && m_walk.files >= MaxWalkFiles)
        {
            m_walk.stopped = true;
            m_info.cut[ProviderCutWalkFiles] = true;
        }
        if (m_walk.stopped)
            return false;
        m_walk.files++;
        return true;
    }

    // A file of a declared type (any file when none was declared, or one of
    // extension "") goes to get_metadata.
    bool Wanted(const wchar_t* name) const
    {
        if (m_info.fileTypes.Count() == 0)
            return true;
        const wchar_t* extension = Extension(name);
        for (int i = 0; i < m_info.fileTypes.Count(); i++)
        {
            const wchar_t* declared = m_info.fileTypes.Element(i)->extension;
            if (!*declared || CompareStringOrdinal(extension, -1, declared, -1, TRUE) == CSTR_EQUAL)
                return true;
        }
        return false;
    }

    void GiveFile(const CClapPresetLocation* location, const CSharedString& file)
    {
        if (!CountFile() || !WithinTime() || !Wanted(FileName(file)))
            return;
        CSharedStringA utf8 = ToUtf8(file);
        if (utf8.IsNull())
            m_info.noMemory = true;
        else
            GiveLocation(location, PresetLocationFile, utf8, file, Title(FileName(file)));
    }

    void ReadFileLocation(const CClapPresetLocation* location)
    {
        DWORD attributes = GetFileAttributesW(location->location);
        if (location->location.IsEmpty() || attributes == INVALID_FILE_ATTRIBUTES)
            return;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            WalkFolder(location, location->location, 0);
        else
            GiveFile(location, location->location);
    }

    // The folder's entries in name order, links and "." and ".." left out.
    // Each file listed counts as looked at.
    bool ListFolder(const CSharedString& folder, CWalkEntryList& entries)
    {
        CSharedString pattern = folder;
        if (!pattern.Append(L"\\*"))
            return false;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE)
            return true;
        bool ok = true;
        do
        {
            bool folderEntry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || lstrcmpW(data.cFileName, L".") == 0 ||
                lstrcmpW(data.cFileName, L"..") == 0 || (!folderEntry && !CountFile()))
                continue;
            CWalkEntry* entry = new CWalkEntry;
            bool made = entry && !(entry->name = CSharedString(data.cFileName, lstrlenW(data.cFileName))).IsNull();
            if (made)
                entry->folder = folderEntry;
            ok = Keep(entries, entry, made, m_info.noMemory);
        } while (ok && !m_walk.stopped && FindNextFileW(find, &data));
        FindClose(find);
        if (ok && entries.Count() > 1)
            qsort(const_cast<CWalkEntry**>(entries.Data()), (size_t)entries.Count(), sizeof(CWalkEntry*),
                  CompareEntries);
        return ok;
    }

    void WalkFolder(const CClapPresetLocation* location, const CSharedString& folder, int depth)
    {
        if (!WithinTime())
            return;
        CWalkEntryList entries;
        if (!ListFolder(folder, entries))
        {
            m_info.noMemory = true;
            return;
        }
        int length = folder.Length();
        bool separated = length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/');
        for (int i = 0; i < entries.Count() && !m_info.noMemory; i++)
        {
            const CWalkEntry& entry = *entries.Element(i);
            CSharedString path = folder;
            if (!(separated || path.Append(L"\\")) || !path.Append(entry.name))
            {
                m_info.noMemory = true;
                return;
            }
            if (!entry.folder)
            {
                // Counted when listed.
                if (WithinTime() && Wanted(entry.name))
                {
                    CSharedStringA utf8 = ToUtf8(path);
                    if (utf8.IsNull())
                        m_info.noMemory = true;
                    else
                        GiveLocation(location, PresetLocationFile, utf8, path, Title(entry.name));
                }
            }
            else if (depth + 1 > MaxWalkDepth)
                m_info.cut[ProviderCutWalkDepth] = true;
            else
                WalkFolder(location, path, depth + 1);
        }
    }

    const clap_preset_discovery_provider* m_provider;
    CPresetRecorder& m_recorder;
    CClapProviderInfo& m_info;
    CWalk m_walk;
};

void ProviderFail(CClapProviderInfo& info, const wchar_t* phase, const wchar_t* reason)
{
    info.phase = phase;
    info.error = CSharedString(reason, lstrlenW(reason));
    info.noMemory = info.noMemory || info.error.IsNull();
}

// create, init, metadata and destroy of the provider of that ID.
void RunProvider(const clap_plugin_entry* entry, const char* id, CClapProviderInfo& info)
{
    const char* factoryId = "";
    const clap_preset_discovery_factory* factory = FindFactory(entry, &factoryId);
    if (!factory)
        return ProviderFail(info, PhasePresetFactory, L"no preset-discovery factory");
    CPresetRecorder recorder(info);
    EnterPhase(PhaseCreate);
    const clap_preset_discovery_provider* provider = factory->create(factory, ClapPresetIndexer(&recorder), id);
    if (!provider)
        ProviderFail(info, PhaseCreate, L"create returned NULL");
    else if (!provider->init || !provider->get_metadata || !provider->destroy)
    {
        ProviderFail(info, PhaseCreate, L"the provider has no init, get_metadata or destroy");
        if (provider->destroy)
            RunGuarded(PhaseDestroy, CallDestroy, const_cast<clap_preset_discovery_provider*>(provider));
    }
    else
    {
        EnterPhase(PhaseInit);
        OpenIndexerCalls(&recorder);
        bool initialised = provider->init(provider);
        ClosePresetCalls();
        if (!initialised)
            ProviderFail(info, PhaseInit, L"provider init returned false");
        else
        {
            EnterPhase(PhaseMetadata);
            CProviderRun(provider, recorder, info).ReadLocations();
        }
        RunGuarded(PhaseDestroy, CallDestroy, const_cast<clap_preset_discovery_provider*>(provider));
    }
    // The recorder ends with the request: the indexer no longer points at it.
    ClapPresetIndexer(nullptr);
}

void ProviderRequest(const wchar_t* request, const CSharedString& path, const wchar_t* idText)
{
    LogInfo(L"Scanning CLAP presets: '%s'\n", request);
    CClapProviderInfo info;
    info.provider = CSharedString(idText, lstrlenW(idText));
    info.noMemory = info.provider.IsNull();
    if (!*idText)
        // Nothing is loaded for a request that names no provider.
        ProviderFail(info, L"", L"Provider ID is empty");
    else
    {
        CSharedStringA id = ToUtf8(idText);
        ClapOpenOutcome outcome;
        if (id.IsNull())
            info.noMemory = true;
        else if (OpenClapModule(path, outcome))
        {
            RunProvider(Cache.clapState.entry, id, info);
            PumpMessages();
            LogInfo(L"Keeping CLAP library loaded for now...\n");
        }
        else
        {
            info.error = outcome.error;
            info.phase = outcome.phase;
        }
        info.noMemory = info.noMemory || outcome.noMemory;
    }
    LogInfo(L"Finished\n");
    WriteClapProviderReport(info);
}

} // namespace

bool IsClapPresetsRequest(const wchar_t* request)
{
    return request && SkipPrefix(request, ExchangeText::ClapPresetsRequestPrefix);
}

void HandleClapPresetsRequest(const wchar_t* request)
{
    const wchar_t* body = SkipPrefix(request, ExchangeText::ClapPresetsRequestPrefix);
    const wchar_t* idText = nullptr;
    CSharedString path = SplitModuleRequest(body, &idText);
    if (path.IsNull())
    {
        if (idText)
            WriteClapProviderOutOfMemory(ScanNoMemoryText);
        else
            WriteClapProvidersOutOfMemory(ScanNoMemoryText);
        return;
    }
    if (idText)
        ProviderRequest(request, path, idText);
    else
        ListRequest(request, path);
}
