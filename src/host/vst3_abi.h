// Host-side declarations of the VST3 module ABI, written from its published
// facts. It is COM-shaped on Windows: every interface starts with the three
// IUnknown methods, methods are virtual functions in declaration order (one
// vtable per interface chain, single inheritance), result codes are
// HRESULTs, and interface IDs are 16-byte GUIDs in COM's byte layout. Every
// method and every export of the module is __stdcall on 32-bit Windows
// (VST3_API, the ABI's PLUGIN_API; x64 Windows has one calling convention,
// where it means nothing). Structures
// have natural alignment (their members need no padding), and their sizes
// are checked below. 16-bit texts are UTF-16 (wchar_t on Windows).
#pragma once
#include <stdint.h>

// Implementations of the interfaces spell it too.
#if defined(_WIN32) && !defined(_WIN64)
#define VST3_API __stdcall
#else
#define VST3_API
#endif

namespace Vst3 {

typedef int32_t tresult;
typedef char TUID[16];            // an interface or class ID, memory bytes
typedef const char* FIDString;    // a TUID handed over by address
typedef wchar_t char16;
typedef char16 String128[128];
typedef uint8_t TBool;

// Result codes: the COM values on Windows.
const tresult kResultOk = 0;
const tresult kResultTrue = 0;
const tresult kResultFalse = 1;
const tresult kNoInterface = (tresult)0x80004002;
const tresult kInvalidArgument = (tresult)0x80070057;
const tresult kNotImplemented = (tresult)0x80004001;
const tresult kInternalError = (tresult)0x80004005;
const tresult kNotInitialized = (tresult)0x8000FFFF;
const tresult kOutOfMemory = (tresult)0x8007000E;

// An ID declared as four 32-bit words, in its Windows memory layout: the
// first word little-endian, the second as two little-endian 16-bit halves,
// the last two big-endian (the GUID's Data1, Data2, Data3, Data4).
#define VST3_UID(l1, l2, l3, l4)                                                               \
    {                                                                                          \
        (char)((l1) & 0xFF), (char)(((l1) >> 8) & 0xFF), (char)(((l1) >> 16) & 0xFF),          \
            (char)(((l1) >> 24) & 0xFF), (char)(((l2) >> 16) & 0xFF),                          \
            (char)(((l2) >> 24) & 0xFF), (char)((l2) & 0xFF), (char)(((l2) >> 8) & 0xFF),      \
            (char)(((l3) >> 24) & 0xFF), (char)(((l3) >> 16) & 0xFF),                          \
            (char)(((l3) >> 8) & 0xFF), (char)((l3) & 0xFF), (char)(((l4) >> 24) & 0xFF),      \
            (char)(((l4) >> 16) & 0xFF), (char)(((l4) >> 8) & 0xFF), (char)((l4) & 0xFF)       \
    }

const TUID FUnknown_iid = VST3_UID(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
const TUID IPluginFactory_iid = VST3_UID(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
const TUID IPluginFactory2_iid = VST3_UID(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
const TUID IPluginFactory3_iid = VST3_UID(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
const TUID IPluginBase_iid = VST3_UID(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
const TUID IComponent_iid = VST3_UID(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
const TUID IHostApplication_iid = VST3_UID(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);

inline bool SameUid(const char* a, const char* b)
{
    for (int i = 0; i < 16; i++)
        if (a[i] != b[i])
            return false;
    return true;
}

// ------------------------------------------------------------- structures

struct PFactoryInfo
{
    char vendor[64];
    char url[256];
    char email[128];
    int32_t flags;
};

// PFactoryInfo::flags
const int32_t kClassesDiscardable = 1 << 0;
const int32_t kLicenseCheck = 1 << 1;
const int32_t kComponentNonDiscardable = 1 << 3;
const int32_t kUnicode = 1 << 4;

struct PClassInfo
{
    TUID cid;
    int32_t cardinality; // kManyInstances
    char category[32];
    char name[64];
};

const int32_t kManyInstances = 0x7FFFFFFF;

struct PClassInfo2
{
    TUID cid;
    int32_t cardinality;
    char category[32];
    char name[64];
    uint32_t classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

struct PClassInfoW
{
    TUID cid;
    int32_t cardinality;
    char category[32];
    char16 name[64];
    uint32_t classFlags;
    char subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};

// PClassInfo2::classFlags
const uint32_t kDistributable = 1 << 0;
const uint32_t kSimpleModeSupported = 1 << 1;

// Media types, directions, bus types and bus flags of IComponent.
enum MediaTypes
{
    kAudio = 0,
    kEvent = 1
};
enum BusDirections
{
    kInput = 0,
    kOutput = 1
};
enum BusTypes
{
    kMain = 0,
    kAux = 1
};
const uint32_t kDefaultActive = 1 << 0;
const uint32_t kIsControlVoltage = 1 << 1;

struct BusInfo
{
    int32_t mediaType;
    int32_t direction;
    int32_t channelCount;
    String128 name;
    int32_t busType;
    uint32_t flags;
};

struct RoutingInfo
{
    int32_t mediaType;
    int32_t busIndex;
    int32_t channel;
};

static_assert(sizeof(TUID) == 16, "TUID");
static_assert(sizeof(char16) == 2, "char16");
static_assert(sizeof(PFactoryInfo) == 452, "PFactoryInfo");
static_assert(sizeof(PClassInfo) == 116, "PClassInfo");
static_assert(sizeof(PClassInfo2) == 440, "PClassInfo2");
static_assert(sizeof(PClassInfoW) == 696, "PClassInfoW");
static_assert(sizeof(BusInfo) == 276, "BusInfo");

// ------------------------------------------------------------- interfaces

class FUnknown
{
public:
    virtual tresult VST3_API queryInterface(const TUID iid, void** obj) = 0;
    virtual uint32_t VST3_API addRef() = 0;
    virtual uint32_t VST3_API release() = 0;
};

class IPluginFactory : public FUnknown
{
public:
    virtual tresult VST3_API getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32_t VST3_API countClasses() = 0;
    virtual tresult VST3_API getClassInfo(int32_t index, PClassInfo* info) = 0;
    virtual tresult VST3_API createInstance(FIDString cid, FIDString iid, void** obj) = 0;
};

class IPluginFactory2 : public IPluginFactory
{
public:
    virtual tresult VST3_API getClassInfo2(int32_t index, PClassInfo2* info) = 0;
};

class IPluginFactory3 : public IPluginFactory2
{
public:
    virtual tresult VST3_API getClassInfoUnicode(int32_t index, PClassInfoW* info) = 0;
    virtual tresult VST3_API setHostContext(FUnknown* context) = 0;
};

class IPluginBase : public FUnknown
{
public:
    virtual tresult VST3_API initialize(FUnknown* context) = 0;
    virtual tresult VST3_API terminate() = 0;
};

class IBStream; // only passed through, never called

class IComponent : public IPluginBase
{
public:
    virtual tresult VST3_API getControllerClassId(TUID classId) = 0;
    virtual tresult VST3_API setIoMode(int32_t mode) = 0;
    virtual int32_t VST3_API getBusCount(int32_t type, int32_t dir) = 0;
    virtual tresult VST3_API getBusInfo(int32_t type, int32_t dir, int32_t index, BusInfo& bus) = 0;
    virtual tresult VST3_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
    virtual tresult VST3_API activateBus(int32_t type, int32_t dir, int32_t index, TBool state) = 0;
    virtual tresult VST3_API setActive(TBool state) = 0;
    virtual tresult VST3_API setState(IBStream* state) = 0;
    virtual tresult VST3_API getState(IBStream* state) = 0;
};

class IHostApplication : public FUnknown
{
public:
    virtual tresult VST3_API getName(String128 name) = 0;
    virtual tresult VST3_API createInstance(TUID cid, TUID iid, void** obj) = 0;
};

// The module's exports. InitDll and ExitDll are optional; a host calls
// InitDll before GetPluginFactory and ExitDll after the last release.
typedef IPluginFactory*(VST3_API* GetFactoryProc)();
typedef bool(VST3_API* InitModuleProc)();
typedef bool(VST3_API* ExitModuleProc)();

} // namespace Vst3
