// A configurable VST 2 plugin for the scan tests. The DLL reads its
// behaviour from a text file beside it with the same base name (X.dll reads
// X.cfg) each time its entry point is called, so one binary, copied under
// new names, plays every plugin a test needs. Build-time switches cover what
// must be decided at link time: which entry point is exported, a bridge
// export, and resources (see plugins.cmake).
//
// Configuration, one "key=value" per line; texts take the escapes \\ \n \r
// \t \b \f \e (the byte 0x1B) and \xHH:
//   name= vendor= product=      texts for effGetEffectName/VendorString/ProductString
//   id= inputs= outputs= flags= category= vendorversion= magic=   numbers (0x.. allowed)
//   entry=null                  the entry point returns NULL
//   cando=N                     default answer to effCanDo (else -1)
//   cando.TEXT=N                answer to effCanDo for TEXT
//   wantmidi=entry|OPCODE       send audioMasterWantMidi in the entry point or
//                               inside the dispatcher call with that opcode
//   call=OPCODE                 call the host in the entry point (ptr: a sentinel
//                               buffer); the answer is appended to the name
//   callnull=OPCODE             the same with a null ptr
//   hostcando=TEXT              audioMasterCanDo in the entry point; answer appended
//   shell=ID NAME               one answer of effShellGetNextPlugin, in order
//   shellendless=ID NAME        after the list, answer this one forever
//   shellcounting=1             after the list, answer 1, 2, 3, ... forever
//   shellbyid=1                 the entry point asks audioMasterCurrentId and
//                               builds the listed sub-plugin with that ID
//   subcategory=N               category answer of such a sub-plugin (else 1)
//   crashonclose=1              access violation inside effClose
//   overflow=OPCODE             fill the whole 512-byte text buffer, no NUL
//   threadcall=OPCODE           the entry point starts a thread of the plugin's
//                               own that calls the host once with OPCODE and
//                               waits until that call has returned
//   leftover=OPCODE             after effClose, once a file X.go exists beside
//                               the DLL, that thread calls the host with each
//                               such OPCODE, round after round, until the
//                               process ends (the module pins itself so its
//                               code stays); "leftover calling" is recorded
//                               once, after the first round
//   sleep=MS                    the entry point sleeps that long before it returns
//   recordpid=1                 each entry point call records "pid N id XXXXXXXX":
//                               the process it ran in and the plugin ID it built
//
// While a .cfg exists, the DLL also appends what happened to X.events: its
// module handle at attach, each entry point call, each dispatcher opcode
// (with the text of effCanDo), and the detach. It writes nothing else
// anywhere.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "host/vst2_abi.h"

#if defined(TP_EXPORT_VSTPLUGINMAIN) || defined(TP_EXPORT_JBRIDGE) || defined(TP_MARKER_EXPORT)
#define TP_DLLEXPORT __declspec(dllexport)
#endif

namespace {

const int TextBufferSize = 512;
const int MaxList = 64;
const int MaxText = 600;

struct Text
{
    char bytes[MaxText];
    int length;
    bool set;
};

struct ShellEntry
{
    int32_t id;
    Text name;
};

struct CanDoAnswer
{
    Text text;
    intptr_t answer;
};

struct HostCall
{
    enum Kind { Plain, NullPtr, CanDo } kind;
    int32_t opcode;
    Text text;
};

struct Config
{
    Text name, vendor, product;
    int32_t id, inputs, outputs, flags, category, vendorVersion, magic;
    bool entryNull;
    intptr_t canDoDefault;
    CanDoAnswer canDo[MaxList];
    int canDoCount;
    bool wantMidiInEntry;
    int32_t wantMidiOpcode; // -1000: none
    HostCall calls[MaxList];
    int callCount;
    ShellEntry shells[MaxList];
    int shellCount;
    bool shellEndless;
    ShellEntry endless;
    bool shellCounting;
    bool shellById;
    int32_t subCategory;
    bool crashOnClose;
    int32_t overflow[8];
    int overflowCount;
    int32_t threadCalls[8];
    int threadCallCount;
    int32_t leftovers[8];
    int leftoverCount;
    int32_t sleepMs;
    bool recordPid;
};

// One plugin instance per entry point call; the scan server never opens
// more than one at a time, but a shell is asked again for each sub-plugin.
struct Instance
{
    AEffect effect;
    Config config;
    Text name;           // the name with the host's answers appended
    int32_t category;
    int shellNext;
    int32_t counting;
};

wchar_t ConfigPath[MAX_PATH * 2];
wchar_t EventsPath[MAX_PATH * 2];
wchar_t GoPath[MAX_PATH * 2];
bool Recording;

void Record(const char* text)
{
    if (!Recording)
        return;
    HANDLE file = CreateFileW(EventsPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

void SetPaths(HMODULE module)
{
    DWORD n = GetModuleFileNameW(module, ConfigPath, MAX_PATH * 2 - 8);
    if (n == 0 || n >= MAX_PATH * 2 - 8)
        return;
    wchar_t* dot = wcsrchr(ConfigPath, L'.');
    wchar_t* slash = wcsrchr(ConfigPath, L'\\');
    if (!dot || (slash && dot < slash))
        dot = ConfigPath + n;
    *dot = 0;
    wcscpy(EventsPath, ConfigPath);
    wcscpy(GoPath, ConfigPath);
    wcscat(GoPath, L".go");
    wcscat(ConfigPath, L".cfg");
    wcscat(EventsPath, L".events");
    Recording = GetFileAttributesW(ConfigPath) != INVALID_FILE_ATTRIBUTES;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void Unescape(const char* from, const char* end, Text* text)
{
    text->length = 0;
    text->set = true;
    while (from < end && text->length < MaxText - 1)
    {
        char c = *from++;
        if (c == '\\' && from < end)
        {
            char e = *from++;
            switch (e)
            {
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'b': c = '\b'; break;
            case 'f': c = '\f'; break;
            case 'e': c = 0x1B; break;
            case 'x':
                if (end - from >= 2 && HexDigit(from[0]) >= 0 && HexDigit(from[1]) >= 0)
                {
                    c = (char)(HexDigit(from[0]) * 16 + HexDigit(from[1]));
                    from += 2;
                }
                break;
            default: c = e; break;
            }
        }
        text->bytes[text->length++] = c;
    }
    text->bytes[text->length] = 0;
}

int32_t Number(const char* from)
{
    return (int32_t)strtoll(from, nullptr, 0);
}

bool KeyIs(const char* key, size_t keyLength, const char* name)
{
    return strlen(name) == keyLength && memcmp(key, name, keyLength) == 0;
}

// "ID NAME": a number, one blank, then the escaped name.
void ParseShell(const char* value, const char* end, ShellEntry* entry)
{
    char* after = nullptr;
    entry->id = (int32_t)strtoll(value, &after, 0);
    if (after < end && *after == ' ')
        after++;
    Unescape(after, end, &entry->name);
}

void ApplyLine(Config* c, const char* line, const char* end)
{
    const char* eq = (const char*)memchr(line, '=', end - line);
    if (!eq)
        return;
    const char* key = line;
    size_t keyLength = eq - line;
    const char* value = eq + 1;
    // Numbers are parsed from a NUL-terminated copy.
    char number[64];
    size_t n = end - value < 63 ? end - value : 63;
    memcpy(number, value, n);
    number[n] = 0;

    if (KeyIs(key, keyLength, "name"))
        Unescape(value, end, &c->name);
    else if (KeyIs(key, keyLength, "vendor"))
        Unescape(value, end, &c->vendor);
    else if (KeyIs(key, keyLength, "product"))
        Unescape(value, end, &c->product);
    else if (KeyIs(key, keyLength, "id"))
        c->id = Number(number);
    else if (KeyIs(key, keyLength, "inputs"))
        c->inputs = Number(number);
    else if (KeyIs(key, keyLength, "outputs"))
        c->outputs = Number(number);
    else if (KeyIs(key, keyLength, "flags"))
        c->flags = Number(number);
    else if (KeyIs(key, keyLength, "category"))
        c->category = Number(number);
    else if (KeyIs(key, keyLength, "vendorversion"))
        c->vendorVersion = Number(number);
    else if (KeyIs(key, keyLength, "magic"))
        c->magic = Number(number);
    else if (KeyIs(key, keyLength, "entry"))
        c->entryNull = strcmp(number, "null") == 0;
    else if (KeyIs(key, keyLength, "cando"))
        c->canDoDefault = Number(number);
    else if (keyLength > 6 && memcmp(key, "cando.", 6) == 0 && c->canDoCount < MaxList)
    {
        CanDoAnswer* a = &c->canDo[c->canDoCount++];
        Unescape(key + 6, eq, &a->text);
        a->answer = Number(number);
    }
    else if (KeyIs(key, keyLength, "wantmidi"))
    {
        if (strcmp(number, "entry") == 0)
            c->wantMidiInEntry = true;
        else
            c->wantMidiOpcode = Number(number);
    }
    else if ((KeyIs(key, keyLength, "call") || KeyIs(key, keyLength, "callnull")) &&
             c->callCount < MaxList)
    {
        HostCall* call = &c->calls[c->callCount++];
        call->kind = keyLength == 4 ? HostCall::Plain : HostCall::NullPtr;
        call->opcode = Number(number);
    }
    else if (KeyIs(key, keyLength, "hostcando") && c->callCount < MaxList)
    {
        HostCall* call = &c->calls[c->callCount++];
        call->kind = HostCall::CanDo;
        call->opcode = audioMasterCanDo;
        Unescape(value, end, &call->text);
    }
    else if (KeyIs(key, keyLength, "shell") && c->shellCount < MaxList)
        ParseShell(value, end, &c->shells[c->shellCount++]);
    else if (KeyIs(key, keyLength, "shellendless"))
    {
        c->shellEndless = true;
        ParseShell(value, end, &c->endless);
    }
    else if (KeyIs(key, keyLength, "shellcounting"))
        c->shellCounting = Number(number) != 0;
    else if (KeyIs(key, keyLength, "shellbyid"))
        c->shellById = Number(number) != 0;
    else if (KeyIs(key, keyLength, "subcategory"))
        c->subCategory = Number(number);
    else if (KeyIs(key, keyLength, "crashonclose"))
        c->crashOnClose = Number(number) != 0;
    else if (KeyIs(key, keyLength, "overflow") && c->overflowCount < 8)
        c->overflow[c->overflowCount++] = Number(number);
    else if (KeyIs(key, keyLength, "threadcall") && c->threadCallCount < 8)
        c->threadCalls[c->threadCallCount++] = Number(number);
    else if (KeyIs(key, keyLength, "leftover") && c->leftoverCount < 8)
        c->leftovers[c->leftoverCount++] = Number(number);
    else if (KeyIs(key, keyLength, "sleep"))
        c->sleepMs = Number(number);
    else if (KeyIs(key, keyLength, "recordpid"))
        c->recordPid = Number(number) != 0;
}

void LoadConfig(Config* c)
{
    memset(c, 0, sizeof *c);
    c->magic = kEffectMagic;
    c->canDoDefault = -1;
    c->wantMidiOpcode = -1000;
    c->subCategory = kPlugCategEffect;

    HANDLE file = CreateFileW(ConfigPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static char data[65536];
    DWORD got = 0;
    ReadFile(file, data, sizeof data - 1, &got, nullptr);
    CloseHandle(file);
    const char* p = data;
    const char* end = data + got;
    while (p < end)
    {
        const char* lineEnd = (const char*)memchr(p, '\n', end - p);
        if (!lineEnd)
            lineEnd = end;
        const char* trimmed = lineEnd;
        if (trimmed > p && trimmed[-1] == '\r')
            trimmed--;
        ApplyLine(c, p, trimmed);
        p = lineEnd + 1;
    }
}

void Append(Text* text, const char* bytes, int length)
{
    while (length-- > 0 && text->length < MaxText - 1)
        text->bytes[text->length++] = *bytes++;
    text->bytes[text->length] = 0;
}

void AppendFormat(Text* text, const char* format, long long value)
{
    char piece[64];
    int n = snprintf(piece, sizeof piece, format, value);
    if (n > 0)
        Append(text, piece, n < (int)sizeof piece ? n : (int)sizeof piece - 1);
}

// Copies a text into the host's 512-byte buffer, or fills all of it with
// letters and no NUL when the configuration asks for an overflow.
void PutText(const Config& c, int32_t opcode, const Text& text, void* ptr)
{
    if (!ptr)
        return;
    char* out = (char*)ptr;
    for (int i = 0; i < c.overflowCount; i++)
    {
        if (c.overflow[i] == opcode)
        {
            for (int k = 0; k < TextBufferSize; k++)
                out[k] = (char)('A' + k % 26);
            return;
        }
    }
    if (!text.set)
        return;
    int n = text.length < TextBufferSize - 1 ? text.length : TextBufferSize - 1;
    memcpy(out, text.bytes, n);
    out[n] = 0;
}

intptr_t CanDoAnswerFor(const Config& c, const char* text)
{
    if (!text)
        return c.canDoDefault;
    for (int i = 0; i < c.canDoCount; i++)
    {
        if (strcmp(c.canDo[i].text.bytes, text) == 0)
            return c.canDo[i].answer;
    }
    return c.canDoDefault;
}

AudioMasterCallback Host;
HANDLE PluginThread;     // one per process, started by the first entry call
HANDLE ThreadCallsDone;  // set by the thread after its calls in the entry point
HANDLE ClosedEvent;      // set at effClose
// Read at run time, so the compiler can neither fold nor drop the write.
volatile uintptr_t CrashAddress = 16;

intptr_t Dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt)
{
    (void)index;
    (void)value;
    (void)opt;
    Instance* self = (Instance*)effect->object;
    const Config& c = self->config;
    char line[600];
    if (opcode == effCanDo)
        snprintf(line, sizeof line, "disp %d %s", (int)opcode, ptr ? (const char*)ptr : "(null)");
    else
        snprintf(line, sizeof line, "disp %d", (int)opcode);
    Record(line);

    if (opcode == c.wantMidiOpcode && Host)
        Host(effect, audioMasterWantMidi, 0, 0, nullptr, 0.0f);

    switch (opcode)
    {
    case effClose:
        if (c.crashOnClose)
            *(volatile int*)CrashAddress = 1;
        if (ClosedEvent)
            SetEvent(ClosedEvent);
        return 0;
    case effGetEffectName:
        PutText(c, opcode, self->name, ptr);
        return 1;
    case effGetVendorString:
        PutText(c, opcode, c.vendor, ptr);
        return 1;
    case effGetProductString:
        PutText(c, opcode, c.product, ptr);
        return 1;
    case effGetPlugCategory:
        return self->category;
    case effGetVendorVersion:
        return c.vendorVersion;
    case effCanDo:
        return CanDoAnswerFor(c, (const char*)ptr);
    case effShellGetNextPlugin:
    {
        const ShellEntry* entry = nullptr;
        if (self->shellNext < c.shellCount)
            entry = &c.shells[self->shellNext++];
        else if (c.shellEndless)
            entry = &c.endless;
        else if (c.shellCounting)
        {
            self->counting++;
            if (ptr)
                snprintf((char*)ptr, TextBufferSize, "Counting %d", (int)self->counting);
            return self->counting;
        }
        if (!entry)
            return 0;
        PutText(c, opcode, entry->name, ptr);
        return (uint32_t)entry->id;
    }
    default:
        return 0;
    }
}

// Calls the host as configured and appends " OP=ANSWER" per call to the
// name; string answers add ":TEXT#BYTES", BYTES being how many bytes of the
// buffer the host changed.
void CallHost(Instance* self, AudioMasterCallback host)
{
    for (int i = 0; i < self->config.callCount; i++)
    {
        const HostCall& call = self->config.calls[i];
        if (call.kind == HostCall::CanDo)
        {
            intptr_t answer = host(&self->effect, audioMasterCanDo, 0, 0, (void*)call.text.bytes, 0.0f);
            Append(&self->name, " ?", 2);
            Append(&self->name, call.text.bytes, call.text.length);
            AppendFormat(&self->name, "=%lld", (long long)answer);
            continue;
        }
        unsigned char buffer[256];
        memset(buffer, 0xAA, sizeof buffer);
        intptr_t answer = host(&self->effect, call.opcode, 0, 0,
                               call.kind == HostCall::NullPtr ? nullptr : buffer, 0.0f);
        AppendFormat(&self->name, " %lld", (long long)call.opcode);
        AppendFormat(&self->name, "=%lld", (long long)answer);
        if (call.kind == HostCall::Plain &&
            (call.opcode == audioMasterGetVendorString || call.opcode == audioMasterGetProductString))
        {
            int changed = 0;
            for (int k = 0; k < (int)sizeof buffer; k++)
            {
                if (buffer[k] != 0xAA)
                    changed = k + 1;
            }
            Append(&self->name, ":", 1);
            Append(&self->name, (const char*)buffer, (int)strnlen((const char*)buffer, sizeof buffer));
            AppendFormat(&self->name, "#%lld", changed);
        }
    }
}

// One host call with what the opcode needs: a capability text for
// audioMasterCanDo, a buffer for everything else.
void CallHostFromThread(Instance* self, int32_t opcode)
{
    char buffer[256] = "receiveVstMidiEvent";
    Host(&self->effect, opcode, 0, 0, buffer, 0.0f);
}

DWORD WINAPI PluginThreadMain(void* argument)
{
    Instance* self = (Instance*)argument;
    const Config& c = self->config;
    for (int i = 0; i < c.threadCallCount; i++)
        CallHostFromThread(self, c.threadCalls[i]);
    SetEvent(ThreadCallsDone);
    if (c.leftoverCount == 0)
        return 0;
    WaitForSingleObject(ClosedEvent, INFINITE);
    while (GetFileAttributesW(GoPath) == INVALID_FILE_ATTRIBUTES)
        Sleep(5);
    for (bool first = true;; first = false)
    {
        for (int i = 0; i < c.leftoverCount; i++)
            CallHostFromThread(self, c.leftovers[i]);
        if (first)
            Record("leftover calling");
    }
}

// The instance stays allocated for the thread, which may outlive the scan.
void StartPluginThread(Instance* self)
{
    if (PluginThread)
        return;
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void*)&PluginThreadMain,
                       &pinned);
    ThreadCallsDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ClosedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PluginThread = CreateThread(nullptr, 0, PluginThreadMain, self, 0, nullptr);
    if (PluginThread)
        WaitForSingleObject(ThreadCallsDone, INFINITE);
}

[[maybe_unused]] AEffect* Entry(AudioMasterCallback host)
{
    Record("entry");
    Host = host;
    Instance* self = (Instance*)calloc(1, sizeof(Instance));
    if (!self)
        return nullptr;
    LoadConfig(&self->config);
    const Config& c = self->config;
    self->name = c.name;
    self->category = c.category;
    AEffect& e = self->effect;
    e.magic = c.magic;
    e.dispatcher = Dispatcher;
    e.numInputs = c.inputs;
    e.numOutputs = c.outputs;
    e.flags = c.flags;
    e.uniqueID = c.id;
    e.object = self;

    if (c.wantMidiInEntry)
        host(&e, audioMasterWantMidi, 0, 0, nullptr, 0.0f);
    CallHost(self, host);
    if (c.threadCallCount > 0 || c.leftoverCount > 0)
        StartPluginThread(self);

    if (c.shellById)
    {
        intptr_t asked = host(&e, audioMasterCurrentId, 0, 0, nullptr, 0.0f);
        if (asked != 0)
        {
            // A shell builds the sub-plugin asked for; an ID it does not
            // list gets a plugin that shows the raw answer.
            self->category = c.subCategory;
            self->name.set = true;
            self->name.length = 0;
            self->name.bytes[0] = 0;
            e.uniqueID = (int32_t)asked;
            bool found = false;
            for (int i = 0; i < c.shellCount && !found; i++)
            {
                if (c.shells[i].id == (int32_t)asked)
                {
                    self->name = c.shells[i].name;
                    found = true;
                }
            }
            if (!found)
                AppendFormat(&self->name, "CurrentId %lld", (long long)asked);
        }
    }
    if (c.recordPid)
    {
        char line[64];
        snprintf(line, sizeof line, "pid %lu id %08X", (unsigned long)GetCurrentProcessId(),
                 (unsigned)e.uniqueID);
        Record(line);
    }
    if (c.sleepMs > 0)
        Sleep((DWORD)c.sleepMs);
    if (c.entryNull)
        return nullptr; // the instance leaks, as a broken plugin's would
    return &e;
}

} // namespace

extern "C" {

#if defined(TP_EXPORT_VSTPLUGINMAIN)
TP_DLLEXPORT AEffect* VSTPluginMain(AudioMasterCallback host)
{
    return Entry(host);
}
#endif

// Exported as "main" through a .def file: the name cannot be spelled in C++.
#if defined(TP_EXPORT_MAIN)
AEffect* TestPluginMain(AudioMasterCallback host)
{
    return Entry(host);
}
#endif

#if defined(TP_EXPORT_JBRIDGE)
TP_DLLEXPORT int JBridgeBootstrap()
{
    Record("jbridge");
    return 0;
}
#endif

// Keeps an export in a DLL without an entry point: a DLL with none would
// export every symbol instead.
#if defined(TP_MARKER_EXPORT)
TP_DLLEXPORT int TestPluginMarker()
{
    return 1;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        SetPaths(instance);
        char line[64];
        // As %p prints it: as many digits as the machine's pointers have.
        snprintf(line, sizeof line, "attach %0*llX", (int)(2 * sizeof(void*)), (unsigned long long)(uintptr_t)instance);
        Record(line);
    }
    else if (reason == DLL_PROCESS_DETACH)
        Record(reserved ? "detach exit" : "detach");
    return TRUE;
}

} // extern "C"
