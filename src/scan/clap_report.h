// What a CLAP request found, and its report block: strict JSON, one member
// a line, every line tagged ">" (docs/protocol.md, "The CLAP report blocks").
#pragma once
#include "../base/shared_string.h"
#include "../simple/containers.h"
#include <stddef.h>
#include <stdint.h>

// The bounds of what is read and listed, whatever counts the plugin gives.
const int MaxClapPlugins = 4096;
const int MaxClapFeatures = 64;
const int MaxClapPorts = 256; // of each kind and direction
const int MaxClapConverters = 256;
const int MaxClapTextBytes = 4096; // of one text handed over by pointer

// The members of a descriptor that can be cut at a bound, in the order of
// the block.
enum ClapCutMember
{
    CutId,
    CutName,
    CutVendor,
    CutUrl,
    CutManualUrl,
    CutSupportUrl,
    CutVersion,
    CutDescription,
    CutFeatures,
    ClapCutMembers
};

// One plugin of the factory, as its descriptor gave it.
struct CClapPlugin
{
    uint32_t index = 0;
    const wchar_t* problem = L""; // "no descriptor", "no id", "no name": the rest empty
    CSharedString id, name, vendor, url, manualUrl, supportUrl, version, description;
    CSharedString features[MaxClapFeatures];
    int featureCount = 0;
    uint32_t clapVersion[3] = {0, 0, 0}; // the descriptor's clap_version
    bool hasVersion = false;          // false for a plugin with a problem
    bool cut[ClapCutMembers] = {};
    CSharedString vst3; // the declared VST3 class ID's text, or empty

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapPlugin*, Simple::SOwnedPtr, CClapPlugin*> CClapPluginList;

// One descriptor of the state converter factory.
struct CClapConverter
{
    CSharedString srcAbi, srcId, dstAbi, dstId;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapConverter*, Simple::SOwnedPtr, CClapConverter*> CClapConverterList;

// A module request: the entry, its factory's plugins and declared links.
struct CClapModuleInfo
{
    CSharedString error;        // empty when the request went through
    const wchar_t* phase = L""; // the phase that failed
    bool hasVersion = false;    // the entry was found: clapVersion is known
    uint32_t clapVersion[3] = {0, 0, 0};
    uint32_t pluginCount = 0; // as the factory said
    CSharedString araFactory; // the ID of the ARA factory the module gave, or empty
    CClapPluginList plugins;
    CClapConverterList converters;
    bool noMemory = false; // a text could not be made: the out-of-memory answer

    CClapModuleInfo() = default;
    CClapModuleInfo(const CClapModuleInfo&) = delete;
    CClapModuleInfo& operator=(const CClapModuleInfo&) = delete;
};

// One audio or note port of an instance.
struct CClapPort
{
    bool note = false;
    bool input = false;
    uint32_t index = 0;
    uint32_t id = 0;
    CSharedString name;
    uint32_t channels = 0; // audio
    uint32_t flags = 0;    // audio
    CSharedString portType; // audio
    uint32_t dialects = 0;  // note
    uint32_t preferred = 0; // note

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CClapPort*, Simple::SOwnedPtr, CClapPort*> CClapPortList;

// A plugin request: one instance's ports.
struct CClapInstanceInfo
{
    CSharedString id; // as requested
    CSharedString error;
    const wchar_t* phase = L"";
    // The extensions' counts, indexed [0 audio, 1 note][0 output, 1 input].
    uint32_t portCounts[2][2] = {{0, 0}, {0, 0}};
    uint32_t audioInputs = 0; // channels of the first main port of each direction
    uint32_t audioOutputs = 0;
    bool gui = false; // the plugin answers for the GUI extension
    CClapPortList ports;
    bool noMemory = false;

    CClapInstanceInfo() = default;
    CClapInstanceInfo(const CClapInstanceInfo&) = delete;
    CClapInstanceInfo& operator=(const CClapInstanceInfo&) = delete;
};

// The answer to a request: the error line (when it failed), then the block;
// the out-of-memory answer instead when info.noMemory is set or a line
// cannot be built.
void WriteClapModuleReport(const CClapModuleInfo& info);
void WriteClapInstanceReport(const CClapInstanceInfo& info);
// The out-of-memory answers, from fixed text without allocating anything.
void WriteClapModuleOutOfMemory(const char* reason);
void WriteClapInstanceOutOfMemory(const char* reason);
