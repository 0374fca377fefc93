// Files replaced whole: a reader sees the old file or the new one, never a part.
#pragma once
#include <cstdint>
#include <string>

namespace orvanta {

// Writes a temporary file beside the target, flushes it and moves it over the
// target with replace and write-through. False with the reason when any step
// failed (the temporary file is then removed, the target left as it was).
bool WriteFileAtomically(const std::wstring& path, const std::string& bytes, std::string* error);
// The whole file; false with the system's reason, *bytes then undefined.
// *errorCode is the system error (ERROR_FILE_NOT_FOUND for a missing file).
bool ReadWholeFile(const std::wstring& path, std::string* bytes, uint32_t* errorCode);

} // namespace orvanta
