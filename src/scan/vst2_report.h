// What the VST 2 scan of one module found, and the report block that tells
// the host: a JSON-style object, one member per line, every line tagged ">".
#pragma once
#include "../base/shared_string.h"
#include "../simple/containers.h"
#include <stddef.h>
#include <stdint.h>

// One sub-plugin of a shell module.
struct CShellInfo
{
    int32_t id = 0;
    CSharedString name;

    // Allocated through the server's heap so tests can make it fail; a
    // failed allocation gives null instead of throwing.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

// The sub-plugins of a shell, in the order the shell listed them.
typedef Simple::CVector<CShellInfo*, Simple::SOwnedPtr, CShellInfo*> CShellList;
// The sub-plugin IDs a shell has answered so far.
typedef Simple::CMap<int, bool, Simple::SValue, Simple::SValue, int> CShellIdSet;

struct CVst2PluginInfo
{
    int32_t id = 0;
    CSharedString name;
    CSharedString vendor;
    CSharedString product;
    CSharedString version;
    CSharedString error;
    int32_t numInputs = 0;
    int32_t numOutputs = 0;
    bool wantsMidi = false;
    bool sendsMidi = false;
    bool audio64 = false;
    bool synthEdit = false;
    bool hasEditor = false; // AEffect.flags says so; reported in the "vst2|" form only
    int32_t category = -1;
    CShellList shells;
    // A text of the scan could not be made: the answer is the out-of-memory
    // one, never a report with a text missing or cut short.
    bool noMemory = false;

    CVst2PluginInfo() = default;
    CVst2PluginInfo(const CVst2PluginInfo&) = delete;
    CVst2PluginInfo& operator=(const CVst2PluginInfo&) = delete;
    // Members go in reverse order: shells first, then error, version,
    // product, vendor and name.
};

// The answer to one request: the error line (when failed), then the report
// block, with the hasEditor member for a request of the "vst2|" form. All
// or nothing: when info.noMemory is set or a line cannot be built, the
// out-of-memory answer goes out instead (the same for both forms).
void WriteVst2Report(const CVst2PluginInfo& info, bool failed = false, bool editorMember = false);
// The error line and the block of a failed scan (every member at its
// initial value, error the reason), written from fixed text without
// allocating anything. Also the answer to a request line that could not be
// read, which has no format yet.
void WriteVst2OutOfMemory(const char* reason);
