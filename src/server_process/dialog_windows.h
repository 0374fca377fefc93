// The visible top-level windows of another process, as a user would read
// them: what a plugin is waiting on when a scan stands still.
#pragma once
#include "orvanta/scan.h"
#include <cstdint>
#include <vector>

namespace orvanta {

// Every visible top-level window of the process other than the server's
// badge (class "OrvantaScanServer"): its title, and the texts of its
// visible child controls except buttons, one per line.
std::vector<DialogWindow> DialogWindowsOf(uint32_t processId);

} // namespace orvanta
