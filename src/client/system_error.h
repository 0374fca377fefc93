// Windows error codes as a user reads them.
#pragma once
#include <cstdint>
#include <string>

namespace orvanta {

// "error 5: Access is denied" (the system's message, without its full stop).
std::string SystemErrorText(uint32_t code);

} // namespace orvanta
