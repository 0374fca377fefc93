// The report blocks of the server's VST3 requests, read back: strict JSON,
// one block for a module request and one for a class request.
#pragma once
#include "orvanta/scan.h"
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// What a module request reported: the factory and every class listed.
struct Vst3ModuleReport
{
    std::string error, phase; // phase: where it failed, "" when it did not
    bool initDll = false, exitDll = false;
    Vst3Factory factory;
    int classCount = 0; // what countClasses returned (0 when negative)
    struct Class
    {
        int index = 0;
        int infoLevel = 0; // the newest factory interface that answered (0: none)
        Vst3Class info;    // subCategories split, sources empty
    };
    std::vector<Class> classes; // in the factory's order
};

// One bus of an instance, as the class report lists it.
struct Vst3Bus
{
    std::string media;     // "audio" or "event"
    std::string direction; // "in" or "out"
    int index = 0;
    std::string name;
    int channels = 0, busType = 0;
    uint32_t flags = 0;
};

// What a class request reported: the buses of one initialised instance.
struct Vst3ClassReport
{
    std::string classId; // 32 upper-case hex digits
    std::string error, phase;
    Vst3Buses buses;
    // getControllerClassId's answer, 32 upper-case hex digits or "" when it
    // named none; unset from a server that does not ask.
    std::optional<std::string> controller;
    std::vector<Vst3Bus> busList;
};

// Each parses the block as ParseVst2Report takes it (the ">:" lines without
// their tag, joined with line feeds). Returns false with "malformed report:
// ..." (the line and column where the syntax breaks, or the member that is
// missing or of the wrong type) and leaves *report alone.
bool ParseVst3ModuleReport(const std::string& block, Vst3ModuleReport* report, std::string* error);
bool ParseVst3ClassReport(const std::string& block, Vst3ClassReport* report, std::string* error);

// A class ID as the server and the database write it: 32 hexadecimal digits
// in either letter case, given back in upper case; false for anything else.
bool ParseClassId(const std::string& text, std::string* classId);

// "Fx|Delay|Stereo" as a list; empty parts are dropped.
std::vector<std::string> SplitSubCategories(const std::string& text);

} // namespace orvanta
