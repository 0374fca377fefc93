// What a VST3 request found, and its report block: strict JSON, one member
// a line, every line tagged ">" (docs/protocol.md, "The VST3 report block").
#pragma once
#include "../base/shared_string.h"
#include "../simple/containers.h"
#include <stddef.h>
#include <stdint.h>

// At most this many classes of a factory, and buses of one media type and
// direction, are read and listed, whatever count the plugin gives.
const int MaxVst3Classes = 4096;
const int MaxVst3Buses = 256;

// One class of the factory, as far as it answered.
struct CVst3Class
{
    int32_t index = 0;
    CSharedString cid; // the ID's text; empty when getClassInfo failed
    CSharedString category;
    CSharedString name;
    int32_t cardinality = 0;
    int infoLevel = 0; // the newest factory interface that answered: 0 to 3
    uint32_t classFlags = 0;
    CSharedString subCategories;
    CSharedString vendor;
    CSharedString version;
    CSharedString sdkVersion;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CVst3Class*, Simple::SOwnedPtr, CVst3Class*> CVst3ClassList;

// A module request: the factory and its classes.
struct CVst3ModuleInfo
{
    CSharedString error;       // empty when the request went through
    const wchar_t* phase = L""; // the phase that failed
    bool initDll = false;
    bool exitDll = false;
    CSharedString factoryVendor;
    CSharedString factoryUrl;
    CSharedString factoryEmail;
    int32_t factoryFlags = 0;
    int32_t classCount = 0;
    CVst3ClassList classes;
    // A text could not be made: the answer is the out-of-memory one.
    bool noMemory = false;

    CVst3ModuleInfo() = default;
    CVst3ModuleInfo(const CVst3ModuleInfo&) = delete;
    CVst3ModuleInfo& operator=(const CVst3ModuleInfo&) = delete;
};

// One bus of an instance.
struct CVst3Bus
{
    int32_t mediaType = 0;
    int32_t direction = 0;
    int32_t index = 0;
    CSharedString name;
    int32_t channels = 0;
    int32_t busType = 0;
    uint32_t flags = 0;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
typedef Simple::CVector<CVst3Bus*, Simple::SOwnedPtr, CVst3Bus*> CVst3BusList;

// A class request: one instance's buses.
struct CVst3InstanceInfo
{
    CSharedString cid; // the class ID as the request named it
    CSharedString error;
    const wchar_t* phase = L"";
    // getBusCount, indexed [media type][direction]; 0 when negative.
    int32_t busCounts[2][2] = {{0, 0}, {0, 0}};
    int32_t audioInputs = 0;  // channels of the main audio buses active by default
    int32_t audioOutputs = 0;
    // getControllerClassId's answer in the class ID's text form; empty when
    // it gave none. Fixed, so that it needs no memory.
    wchar_t controller[33] = {};
    CVst3BusList buses;
    bool noMemory = false;

    CVst3InstanceInfo() = default;
    CVst3InstanceInfo(const CVst3InstanceInfo&) = delete;
    CVst3InstanceInfo& operator=(const CVst3InstanceInfo&) = delete;
};

// The answer to a request: the error line (when it failed), then the block;
// the out-of-memory answer instead when info.noMemory is set or a line
// cannot be built.
// cid is the request's class ID for the out-of-memory answer: 32 ASCII hex
// digits, or "" when the request named none.
void WriteVst3ModuleReport(const CVst3ModuleInfo& info);
void WriteVst3InstanceReport(const CVst3InstanceInfo& info, const char* cid);
// The out-of-memory answers, from fixed text without allocating anything:
// the error line and the block with every member at its initial value and
// error the reason.
void WriteVst3ModuleOutOfMemory(const char* reason);
void WriteVst3InstanceOutOfMemory(const char* reason, const char* cid);
