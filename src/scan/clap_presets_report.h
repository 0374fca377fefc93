// What a CLAP presets request found, and its report block: strict JSON, one
// member a line, every line tagged ">" (docs/protocol.md, "CLAP presets").
#pragma once
#include "../base/shared_string.h"
#include "../simple/containers.h"
#include <stddef.h>
#include <stdint.h>

// The bounds of what is listed, whatever the plugin gives.
const int MaxClapProviders = 256;
const int MaxListedPresets = 10000;
const int MaxPresetDeclarations = 256; // file types, locations, sound packs, errors: each
const int MaxPresetItems = 64;         // plugin IDs, creators, features, extra infos of one preset

// One provider of the factory, as its descriptor gave it.
struct CClapProvider
{
    uint32_t index = 0;
    const wchar_t* problem = L""; // "no descriptor", "no id", "no name": the rest empty
    CSharedString id, name, vendor;
    bool hasVersion = false; // false for a provider with a problem
    uint32_t clapVersion[3] = {0, 0, 0};

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapProvider*, Simple::SOwnedPtr, CClapProvider*> CClapProviderList;

// A provider list request.
struct CClapProvidersInfo
{
    CSharedString error;        // empty when the request went through
    const wchar_t* phase = L""; // the phase that failed
    CSharedString factory;      // the ID the factory was found under, or empty
    uint32_t providerCount = 0; // as the factory said
    CClapProviderList providers;
    bool noMemory = false; // a text could not be made: the out-of-memory answer

    CClapProvidersInfo() = default;
    CClapProvidersInfo(const CClapProvidersInfo&) = delete;
    CClapProvidersInfo& operator=(const CClapProvidersInfo&) = delete;
};

// One or two texts of a list: a creator or feature (first only), a plugin
// ID (ABI, ID), an extra info (key, value).
struct CClapPresetItem
{
    CSharedString first, second;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapPresetItem*, Simple::SOwnedPtr, CClapPresetItem*> CClapPresetItemList;

struct CClapFileType
{
    CSharedString name, description, extension;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapFileType*, Simple::SOwnedPtr, CClapFileType*> CClapFileTypeList;

struct CClapPresetLocation
{
    uint32_t flags = 0;
    CSharedString name;
    bool inPlugin = false;
    CSharedString location; // as declared; empty for the plugin kind

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapPresetLocation*, Simple::SOwnedPtr, CClapPresetLocation*> CClapPresetLocationList;

struct CClapSoundpack
{
    uint32_t flags = 0;
    CSharedString id, name, description, homepage, vendor, image;
    uint64_t released = 0;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapSoundpack*, Simple::SOwnedPtr, CClapSoundpack*> CClapSoundpackList;

// The members of a preset that can be cut (a text at its bound, a list at
// MaxPresetItems), in the order of the block.
enum ClapPresetCut
{
    PresetCutName,
    PresetCutLoadKey,
    PresetCutPlugins,
    PresetCutSoundpack,
    PresetCutCreators,
    PresetCutDescription,
    PresetCutFeatures,
    PresetCutExtra,
    PresetCutMembers
};

struct CClapPreset
{
    bool inPlugin = false;
    CSharedString location; // the file it came from; empty for the plugin kind
    CSharedString name, loadKey, soundpack, description;
    CClapPresetItemList plugins, creators, features, extra;
    uint32_t flags = 0; // set_flags's, else the location's
    uint64_t created = 0, modified = 0;
    bool cut[PresetCutMembers] = {};

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapPreset*, Simple::SOwnedPtr, CClapPreset*> CClapPresetList;

struct CClapPresetError
{
    CSharedString location; // the file; empty for the plugin kind
    int32_t status = 0;
    CSharedString message;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapPresetError*, Simple::SOwnedPtr, CClapPresetError*> CClapPresetErrorList;

// What a provider request's "cut" can name, in the order of the block: a
// list at its bound, a text of a declaration at its bound ("LIST.MEMBER"),
// a bound of the walk.
enum ClapProviderCut
{
    ProviderCutFileTypes,
    ProviderCutFileTypeTexts,
    ProviderCutLocations,
    ProviderCutLocationTexts,
    ProviderCutSoundpacks,
    ProviderCutSoundpackTexts,
    ProviderCutPresets,
    ProviderCutErrors,
    ProviderCutErrorTexts,
    ProviderCutWalkDepth,
    ProviderCutWalkFiles,
    ProviderCutWalkTime,
    ProviderCutMembers
};

// A provider request: what the provider's init declared, the presets its
// get_metadata calls gave and the errors it reported.
struct CClapProviderInfo
{
    CSharedString provider; // the ID as requested
    CSharedString error;
    const wchar_t* phase = L"";
    CClapFileTypeList fileTypes;
    CClapPresetLocationList locations;
    CClapSoundpackList soundpacks;
    uint32_t presetCount = 0; // every preset begun, also past the list's bound
    CClapPresetList presets;
    CClapPresetErrorList errors;
    bool cut[ProviderCutMembers] = {};
    bool noMemory = false;

    CClapProviderInfo() = default;
    CClapProviderInfo(const CClapProviderInfo&) = delete;
    CClapProviderInfo& operator=(const CClapProviderInfo&) = delete;
};

// The answer to a request: the error line (when it failed), then the block;
// the out-of-memory answer instead when info.noMemory is set or a line
// cannot be built.
void WriteClapProvidersReport(const CClapProvidersInfo& info);
void WriteClapProviderReport(const CClapProviderInfo& info);
// The out-of-memory answers, from fixed text without allocating anything.
void WriteClapProvidersOutOfMemory(const char* reason);
void WriteClapProviderOutOfMemory(const char* reason);
