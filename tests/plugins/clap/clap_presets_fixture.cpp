// CLAP fixture modules with a preset-discovery factory, well-behaved and
// hostile, built on the server's own ABI declarations. Each has a plugin
// factory with one small plugin ("com.zandrel.preset-synth", which loads,
// initialises and offers nothing). PRESETS_MODE picks the variant at build
// time (see clap_fixtures.cmake):
//    1 presets: two providers.
//      "com.zandrel.presets.factory" declares the file type "zpreset", the
//      folder NAME-presets beside the module (a file location; the build
//      copies clap/presets there), a plugin location "Built in" and the
//      sound pack "com.zandrel.pack.analog". Its init fails unless the
//      indexer is the server's. It reads each file it is given (the format
//      is below) and gives two built-in presets, "Init" and "Bright Keys".
//      "com.zandrel.presets.user" declares only a plugin location
//      "Favourites" (user content, favourite) with two presets, the first
//      begun without a name.
//    2 draft: the factory only under its draft ID, one provider
//      "com.zandrel.presets.draft" with one built-in preset
//    3 failing providers: descriptors 0 null, 1 without id, 2 without name;
//      "com.zandrel.presets.null" (create gives null), ".hollow" (no
//      get_metadata), ".refuser" (declares a file type, then its init
//      returns false)
//    4 "com.zandrel.presets.crash" crashes in get_metadata
//    5 "com.zandrel.presets.hang" hangs in its init
//    6 "com.zandrel.presets.dialog" shows a message box in its init (title
//      "Preset licence", text "Please insert your dongle") and goes on once
//      it is closed: one built-in preset "After the dialog"
//    7 "com.zandrel.presets.many" begins 1,000,000 presets
//    8 "com.zandrel.presets.long": texts without a terminator, each 4097
//      bytes that end at an inaccessible page (a reader that goes one byte
//      further crashes), as its descriptor's name, a file type's name, a
//      location's name, a preset's name and description, an extra info's
//      value and an error's message; a creator of exactly 4096 bytes
//    9 "com.zandrel.presets.out-of-phase" calls the indexer and the receiver
//      where they must refuse: the indexer in create, from another thread
//      during init and in get_metadata; the receiver from another thread
//      during get_metadata and in destroy. Its one preset "Kept" tells in
//      its extra infos what the refused calls returned.
// A preset file ("zpreset 1" as its first line, else on_error 22 "not a
// zpreset file") holds one KEY=VALUE a line: preset=NAME|LOADKEY begins a
// preset, preset-unnamed=LOADKEY begins one with a null name; plugin=ABI|ID,
// soundpack=ID, flags=N, creator=TEXT, description=TEXT,
// timestamps=CREATED|MODIFIED, feature=TEXT and extra=KEY|VALUE go to the
// receiver as they stand (before any preset line: the file's own preset).
// Before a crash the variant appends the id of the crashing thread to the
// file named by CRASH_FIXTURE_THREAD_FILE, as the other crash fixtures do.
#include "host/clap_abi.h"
#include "../fixture_crash.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef PRESETS_MODE
#error PRESETS_MODE must be defined
#endif

#define PRESETS_GOOD 1
#define PRESETS_DRAFT 2
#define PRESETS_FAILING 3
#define PRESETS_CRASH_METADATA 4
#define PRESETS_HANG_INIT 5
#define PRESETS_DIALOG_INIT 6
#define PRESETS_MANY 7
#define PRESETS_LONG_TEXTS 8
#define PRESETS_OUT_OF_PHASE 9

using namespace Clap;

namespace {

const clap_version V122 = {1, 2, 2};
const char Vendor[] = "Zandrel Software";
const char SynthId[] = "com.zandrel.preset-synth";

// ------------------------------------------------------------ the plugin

const char* const SynthFeatures[] = {"instrument", "synthesizer", nullptr};
const clap_plugin_descriptor SynthDescriptor = {
    V122, SynthId, "Zandrel Preset Synth", Vendor, "", "", "", "1.0.0", "A synth with presets", SynthFeatures};

bool PluginInit(const clap_plugin*) { return true; }
void PluginDestroy(const clap_plugin* plugin) { delete plugin; }
bool Activate(const clap_plugin*, double, uint32_t, uint32_t) { return false; }
void Nothing(const clap_plugin*) {}
bool NoProcessing(const clap_plugin*) { return false; }
int32_t Process(const clap_plugin*, const void*) { return 0; }
const void* NoExtension(const clap_plugin*, const char*) { return nullptr; }

uint32_t PluginCount(const clap_plugin_factory*) { return 1; }
const clap_plugin_descriptor* PluginDescriptor(const clap_plugin_factory*, uint32_t index)
{
    return index == 0 ? &SynthDescriptor : nullptr;
}
const clap_plugin* CreatePlugin(const clap_plugin_factory*, const clap_host*, const char* id)
{
    if (strcmp(id, SynthId) != 0)
        return nullptr;
    return new clap_plugin{&SynthDescriptor, nullptr, PluginInit, PluginDestroy, Activate, Nothing, NoProcessing,
                           Nothing, Nothing, Process, NoExtension, Nothing};
}
const clap_plugin_factory PluginFactory = {PluginCount, PluginDescriptor, CreatePlugin};

// ------------------------------------------------------ shared by providers

// The module's path as the entry's init got it, and the folder of presets
// beside it: the path without ".clap", then "-presets".
char PresetFolder[MAX_PATH * 3] = "";

typedef clap_preset_discovery_metadata_receiver Receiver;

struct ProviderRecipe
{
    clap_preset_discovery_provider_descriptor desc;
    bool (*init)(const clap_preset_discovery_provider* provider);
    bool (*getMetadata)(const clap_preset_discovery_provider* provider, uint32_t kind, const char* location,
                        const Receiver* receiver);
};

// What create makes: the provider record first, then what it keeps.
struct Provider
{
    clap_preset_discovery_provider provider;
    const clap_preset_discovery_indexer* indexer;
};

const clap_preset_discovery_indexer* IndexerOf(const clap_preset_discovery_provider* provider)
{
    return reinterpret_cast<const Provider*>(provider)->indexer;
}

void DeclarePluginLocation(const clap_preset_discovery_provider* provider, uint32_t flags, const char* name)
{
    const clap_preset_discovery_indexer* indexer = IndexerOf(provider);
    clap_preset_discovery_location location = {flags, name, PresetLocationPlugin, nullptr};
    indexer->declare_location(indexer, &location);
}

// The indexer must be the server's: its texts, and no extension.
[[maybe_unused]] bool IndexerIsTheServers(const clap_preset_discovery_indexer* indexer)
{
    return indexer && indexer->version.major == 1 && indexer->version.minor == 2 && indexer->version.revision == 2 &&
           strcmp(indexer->name, "Orvanta Plugin Scanner") == 0 && strcmp(indexer->vendor, "Orvanta") == 0 &&
           strcmp(indexer->url, "") == 0 && indexer->version_text && indexer->version_text[0] &&
           indexer->indexer_data && indexer->declare_filetype && indexer->declare_location &&
           indexer->declare_soundpack && indexer->get_extension &&
           !indexer->get_extension(indexer, "clap.preset-discovery-indexer-extension");
}

[[maybe_unused]] void AddSynth(const Receiver* receiver)
{
    clap_universal_plugin_id id = {"clap", SynthId};
    receiver->add_plugin_id(receiver, &id);
}

// ------------------------------------------------------------ preset files

// Text up to the separator in *line (which moves past it), terminated.
[[maybe_unused]] char* Cut(char** line, char separator)
{
    char* start = *line;
    char* end = strchr(start, separator);
    if (end)
    {
        *end = 0;
        *line = end + 1;
    }
    else
        *line = start + strlen(start);
    return start;
}

[[maybe_unused]] bool ReadPresetFile(const char* path, const Receiver* receiver)
{
    wchar_t wide[MAX_PATH * 2];
    char text[65536] = "";
    DWORD size = 0;
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH * 2) > 0)
    {
        HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            ReadFile(file, text, sizeof text - 1, &size, nullptr);
            CloseHandle(file);
        }
    }
    text[size] = 0;
    char* rest = text;
    if (strcmp(Cut(&rest, '\n'), "zpreset 1") != 0)
    {
        receiver->on_error(receiver, 22, "not a zpreset file");
        return false;
    }
    while (*rest)
    {
        char* value = Cut(&rest, '\n');
        const char* key = Cut(&value, '=');
        if (strcmp(key, "preset") == 0)
        {
            const char* name = Cut(&value, '|');
            receiver->begin_preset(receiver, name, value);
        }
        else if (strcmp(key, "preset-unnamed") == 0)
            receiver->begin_preset(receiver, nullptr, value);
        else if (strcmp(key, "plugin") == 0)
        {
            clap_universal_plugin_id id = {Cut(&value, '|'), value};
            receiver->add_plugin_id(receiver, &id);
        }
        else if (strcmp(key, "soundpack") == 0)
            receiver->set_soundpack_id(receiver, value);
        else if (strcmp(key, "flags") == 0)
            receiver->set_flags(receiver, (uint32_t)strtoul(value, nullptr, 10));
        else if (strcmp(key, "creator") == 0)
            receiver->add_creator(receiver, value);
        else if (strcmp(key, "description") == 0)
            receiver->set_description(receiver, value);
        else if (strcmp(key, "timestamps") == 0)
        {
            uint64_t created = strtoull(Cut(&value, '|'), nullptr, 10);
            receiver->set_timestamps(receiver, created, strtoull(value, nullptr, 10));
        }
        else if (strcmp(key, "feature") == 0)
            receiver->add_feature(receiver, value);
        else if (strcmp(key, "extra") == 0)
        {
            const char* extraKey = Cut(&value, '|');
            receiver->add_extra_info(receiver, extraKey, value);
        }
    }
    return true;
}

// ------------------------------------------------------------ the providers

[[maybe_unused]] bool FactoryInit(const clap_preset_discovery_provider* provider)
{
    const clap_preset_discovery_indexer* indexer = IndexerOf(provider);
    if (!IndexerIsTheServers(indexer))
        return false;
    clap_preset_discovery_filetype type = {"Zandrel preset", "A bank of presets or a single one", "zpreset"};
    indexer->declare_filetype(indexer, &type);
    clap_preset_discovery_location folder = {PresetIsFactoryContent, "Factory", PresetLocationFile, PresetFolder};
    indexer->declare_location(indexer, &folder);
    DeclarePluginLocation(provider, PresetIsFactoryContent, "Built in");
    static char image[sizeof PresetFolder + 32];
    snprintf(image, sizeof image, "%s\\Analog Pack.png", PresetFolder);
    clap_preset_discovery_soundpack pack = {PresetIsFactoryContent,
                                            "com.zandrel.pack.analog",
                                            "Analog Pack",
                                            "Warm analog sounds",
                                            "https://zandrel.example/packs/analog",
                                            Vendor,
                                            image,
                                            1690000000};
    indexer->declare_soundpack(indexer, &pack);
    return true;
}

[[maybe_unused]] bool FactoryMetadata(const clap_preset_discovery_provider*, uint32_t kind, const char* location,
                     const Receiver* receiver)
{
    if (kind == PresetLocationFile)
        return ReadPresetFile(location, receiver);
    receiver->begin_preset(receiver, "Init", "builtin:init");
    AddSynth(receiver);
    receiver->add_feature(receiver, "init");
    receiver->begin_preset(receiver, "Bright Keys", "builtin:bright-keys");
    AddSynth(receiver);
    receiver->set_flags(receiver, PresetIsFactoryContent | PresetIsFavorite);
    receiver->add_creator(receiver, "Zandrel Sound Team");
    receiver->set_description(receiver, "A bright electric piano");
    receiver->set_timestamps(receiver, 1600000000, 0);
    receiver->add_feature(receiver, "keys");
    receiver->add_feature(receiver, "bright");
    receiver->add_extra_info(receiver, "velocity", "soft");
    return true;
}

[[maybe_unused]] bool UserInit(const clap_preset_discovery_provider* provider)
{
    DeclarePluginLocation(provider, PresetIsUserContent | PresetIsFavorite, "Favourites");
    return true;
}

[[maybe_unused]] bool UserMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver* receiver)
{
    receiver->begin_preset(receiver, nullptr, "fav:1");
    AddSynth(receiver);
    receiver->begin_preset(receiver, "My Lead", "fav:2");
    AddSynth(receiver);
    receiver->set_flags(receiver, PresetIsUserContent);
    return true;
}

[[maybe_unused]] bool BuiltInInit(const clap_preset_discovery_provider* provider)
{
    DeclarePluginLocation(provider, PresetIsFactoryContent, "Built in");
    return true;
}

[[maybe_unused]] bool DraftMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver* receiver)
{
    receiver->begin_preset(receiver, "Draft Init", "draft:init");
    return true;
}

[[maybe_unused]] bool RefuserInit(const clap_preset_discovery_provider* provider)
{
    const clap_preset_discovery_indexer* indexer = IndexerOf(provider);
    clap_preset_discovery_filetype type = {"Refused", "", "ref"};
    indexer->declare_filetype(indexer, &type);
    return false;
}

[[maybe_unused]] bool CrashMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver*)
{
    fixture::Crash();
    return false;
}

[[maybe_unused]] bool HangInit(const clap_preset_discovery_provider*)
{
    Sleep(INFINITE);
    return false;
}

[[maybe_unused]] bool DialogInit(const clap_preset_discovery_provider* provider)
{
    MessageBoxW(nullptr, L"Please insert your dongle", L"Preset licence", MB_OK);
    DeclarePluginLocation(provider, PresetIsFactoryContent, "Built in");
    return true;
}

[[maybe_unused]] bool DialogMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver* receiver)
{
    receiver->begin_preset(receiver, "After the dialog", "dialog:1");
    return true;
}

[[maybe_unused]] bool ManyMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver* receiver)
{
    char name[32], key[16];
    for (int i = 0; i < 1000000; i++)
    {
        snprintf(name, sizeof name, "Preset %d", i);
        snprintf(key, sizeof key, "%d", i);
        receiver->begin_preset(receiver, name, key);
    }
    return true;
}

// ---------------------------------------------------- texts without an end

// 4097 bytes of one letter, no terminator, the last byte right before an
// inaccessible page.
[[maybe_unused]] const char* Unterminated(char letter)
{
    const SIZE_T page = 4096;
    char* base = static_cast<char*>(VirtualAlloc(nullptr, 3 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + 2 * page, page, PAGE_NOACCESS, &old);
    char* text = base + 2 * page - 4097;
    memset(text, letter, 4097);
    return text;
}

const char* LongName = nullptr;
const char* LongTypeName = nullptr;
const char* LongLocationName = nullptr;
const char* LongPresetName = nullptr;
const char* LongDescription = nullptr;
const char* LongValue = nullptr;
const char* LongMessage = nullptr;
char Creator4096[4097];

[[maybe_unused]] void MakeLongTexts()
{
    LongName = Unterminated('n');
    LongTypeName = Unterminated('t');
    LongLocationName = Unterminated('l');
    LongPresetName = Unterminated('p');
    LongDescription = Unterminated('d');
    LongValue = Unterminated('v');
    LongMessage = Unterminated('e');
    memset(Creator4096, 'c', 4096);
}

[[maybe_unused]] bool LongInit(const clap_preset_discovery_provider* provider)
{
    const clap_preset_discovery_indexer* indexer = IndexerOf(provider);
    clap_preset_discovery_filetype type = {LongTypeName, "", "zlong"};
    indexer->declare_filetype(indexer, &type);
    DeclarePluginLocation(provider, PresetIsFactoryContent, LongLocationName);
    return true;
}

[[maybe_unused]] bool LongMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver* receiver)
{
    receiver->begin_preset(receiver, LongPresetName, "long:1");
    receiver->set_description(receiver, LongDescription);
    receiver->add_creator(receiver, Creator4096);
    receiver->add_extra_info(receiver, "key", LongValue);
    receiver->on_error(receiver, 5, LongMessage);
    return true;
}

// ------------------------------------------------- calls out of their phase

// What the refused calls returned, told as extra infos of the one preset.
bool InCreate = true, FromThreadInInit = true;
const clap_preset_discovery_indexer* KeptIndexer = nullptr;
const Receiver* KeptReceiver = nullptr;

[[maybe_unused]] DWORD WINAPI DeclareFromThread(void* result)
{
    clap_preset_discovery_soundpack pack = {0, "thread", "From a thread", "", "", "", "", 0};
    *static_cast<bool*>(result) = KeptIndexer->declare_soundpack(KeptIndexer, &pack);
    return 0;
}

[[maybe_unused]] DWORD WINAPI BeginFromThread(void* result)
{
    *static_cast<bool*>(result) = KeptReceiver->begin_preset(KeptReceiver, "From a thread", "thread");
    return 0;
}

[[maybe_unused]] bool OnAnotherThread(LPTHREAD_START_ROUTINE routine)
{
    bool result = true;
    HANDLE thread = CreateThread(nullptr, 0, routine, &result, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return result;
}

[[maybe_unused]] bool OutOfPhaseInit(const clap_preset_discovery_provider* provider)
{
    DeclarePluginLocation(provider, PresetIsFactoryContent, "Built in");
    FromThreadInInit = OnAnotherThread(DeclareFromThread);
    return true;
}

[[maybe_unused]] bool OutOfPhaseMetadata(const clap_preset_discovery_provider*, uint32_t, const char*, const Receiver* receiver)
{
    clap_preset_discovery_filetype type = {"Late", "", "late"};
    bool inMetadata = KeptIndexer->declare_filetype(KeptIndexer, &type);
    KeptReceiver = receiver;
    receiver->begin_preset(receiver, "Kept", "kept");
    bool fromThread = OnAnotherThread(BeginFromThread);
    receiver->add_extra_info(receiver, "declare_location in create", InCreate ? "true" : "false");
    receiver->add_extra_info(receiver, "declare_soundpack from another thread in init",
                             FromThreadInInit ? "true" : "false");
    receiver->add_extra_info(receiver, "declare_filetype in get_metadata", inMetadata ? "true" : "false");
    receiver->add_extra_info(receiver, "begin_preset from another thread", fromThread ? "true" : "false");
    return true;
}

// ------------------------------------------------------------ the factory

#if PRESETS_MODE == PRESETS_GOOD
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.factory", "Zandrel Factory Presets", Vendor}, FactoryInit, FactoryMetadata},
    {{{1, 0, 0}, "com.zandrel.presets.user", "Zandrel User Presets", Vendor}, UserInit, UserMetadata},
};
#elif PRESETS_MODE == PRESETS_DRAFT
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.draft", "Draft Presets", Vendor}, BuiltInInit, DraftMetadata},
};
#elif PRESETS_MODE == PRESETS_FAILING
const ProviderRecipe Providers[] = {
    {{V122, nullptr, nullptr, nullptr}, nullptr, nullptr}, // no descriptor at all
    {{V122, nullptr, "No Id", Vendor}, BuiltInInit, DraftMetadata},
    {{V122, "com.zandrel.presets.no-name", nullptr, Vendor}, BuiltInInit, DraftMetadata},
    {{V122, "com.zandrel.presets.null", "Null", Vendor}, BuiltInInit, DraftMetadata},
    {{V122, "com.zandrel.presets.hollow", "Hollow", Vendor}, BuiltInInit, nullptr},
    {{V122, "com.zandrel.presets.refuser", "Refuser", Vendor}, RefuserInit, DraftMetadata},
};
#elif PRESETS_MODE == PRESETS_CRASH_METADATA
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.crash", "Crash", Vendor}, BuiltInInit, CrashMetadata},
};
#elif PRESETS_MODE == PRESETS_HANG_INIT
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.hang", "Hang", Vendor}, HangInit, DraftMetadata},
};
#elif PRESETS_MODE == PRESETS_DIALOG_INIT
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.dialog", "Dialog", Vendor}, DialogInit, DialogMetadata},
};
#elif PRESETS_MODE == PRESETS_MANY
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.many", "Many", Vendor}, BuiltInInit, ManyMetadata},
};
#elif PRESETS_MODE == PRESETS_LONG_TEXTS
ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.long", nullptr, Vendor}, LongInit, LongMetadata}, // name set in init
};
#elif PRESETS_MODE == PRESETS_OUT_OF_PHASE
const ProviderRecipe Providers[] = {
    {{V122, "com.zandrel.presets.out-of-phase", "Out of phase", Vendor}, OutOfPhaseInit, OutOfPhaseMetadata},
};
#endif

const uint32_t ProviderCount = (uint32_t)(sizeof Providers / sizeof Providers[0]);

void ProviderDestroy(const clap_preset_discovery_provider* provider)
{
    if (PRESETS_MODE == PRESETS_OUT_OF_PHASE && KeptReceiver)
    {
        // After get_metadata has returned: both refused, neither shows.
        KeptReceiver->begin_preset(KeptReceiver, "After get_metadata", "late");
        DeclarePluginLocation(provider, PresetIsFactoryContent, "In destroy");
    }
    delete reinterpret_cast<const Provider*>(provider);
}

const void* ProviderExtension(const clap_preset_discovery_provider*, const char*) { return nullptr; }

uint32_t Count(const clap_preset_discovery_factory*) { return ProviderCount; }

const clap_preset_discovery_provider_descriptor* Descriptor(const clap_preset_discovery_factory*, uint32_t index)
{
    if (index >= ProviderCount || (PRESETS_MODE == PRESETS_FAILING && index == 0))
        return nullptr;
    return &Providers[index].desc;
}

const clap_preset_discovery_provider* Create(const clap_preset_discovery_factory*,
                                             const clap_preset_discovery_indexer* indexer, const char* id)
{
    for (const ProviderRecipe& recipe : Providers)
    {
        if (!recipe.desc.id || strcmp(recipe.desc.id, id) != 0 || strcmp(id, "com.zandrel.presets.null") == 0)
            continue;
        Provider* made = new Provider;
        made->provider = {&recipe.desc, nullptr, recipe.init, ProviderDestroy, recipe.getMetadata, ProviderExtension};
        made->indexer = indexer;
        if (PRESETS_MODE == PRESETS_OUT_OF_PHASE)
        {
            KeptIndexer = indexer;
            KeptReceiver = nullptr;
            clap_preset_discovery_location location = {PresetIsFactoryContent, "In create", PresetLocationPlugin,
                                                       nullptr};
            InCreate = indexer->declare_location(indexer, &location);
        }
        return &made->provider;
    }
    return nullptr;
}

const clap_preset_discovery_factory PresetFactory = {Count, Descriptor, Create};

// ------------------------------------------------------------ the entry

bool EntryInit(const char* path)
{
    size_t length = strlen(path);
    if (length < 5 || length - 5 + sizeof "-presets" > sizeof PresetFolder)
        return false;
    memcpy(PresetFolder, path, length - 5);
    strcpy(PresetFolder + length - 5, "-presets");
#if PRESETS_MODE == PRESETS_LONG_TEXTS
    MakeLongTexts();
    Providers[0].desc.name = LongName;
#endif
    return true;
}

void EntryDeinit() {}

const void* EntryFactory(const char* id)
{
    if (strcmp(id, PluginFactoryId) == 0)
        return &PluginFactory;
    const char* presetId = PRESETS_MODE == PRESETS_DRAFT ? PresetDiscoveryFactoryDraftId : PresetDiscoveryFactoryId;
    if (strcmp(id, presetId) == 0)
        return &PresetFactory;
    return nullptr;
}

} // namespace

extern "C" __declspec(dllexport) const clap_plugin_entry clap_entry = {V122, EntryInit, EntryDeinit, EntryFactory};
