#include "orvanta_scan.h"

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

} // namespace orvanta
