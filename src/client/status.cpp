// Outcomes: their names, and what a module's outcomes add up to.
#include "orvanta/scan.h"

namespace orvanta {

const char* StatusName(Status status)
{
    switch (status)
    {
    case Status::ok: return "ok";
    case Status::failed: return "failed";
    case Status::crashed: return "crashed";
    case Status::timeout: return "timeout";
    case Status::lost: return "lost";
    }
    return "lost";
}

bool ParseStatus(const std::string& text, Status* status)
{
    for (Status s : {Status::ok, Status::failed, Status::crashed, Status::timeout, Status::lost})
    {
        if (text == StatusName(s))
        {
            *status = s;
            return true;
        }
    }
    return false;
}

namespace {

template <typename Test> bool AnyOutcome(const ModuleResult& result, Test test)
{
    if (test(result.status))
        return true;
    for (const PluginEntry& plugin : result.plugins)
    {
        if (test(plugin.status))
            return true;
    }
    return false;
}

} // namespace

bool HasProblem(const ModuleResult& result)
{
    return AnyOutcome(result, [](Status s) { return s != Status::ok; });
}

bool EndedBadly(const ModuleResult& result)
{
    return AnyOutcome(result, [](Status s) {
        return s == Status::crashed || s == Status::timeout || s == Status::lost;
    });
}

} // namespace orvanta
