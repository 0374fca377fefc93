// Which database a command works on, and its folder.
#pragma once
#include "options.h"
#include <string>

namespace orvantacli {

// --db, else the database every host of this user shares; "" with the
// reason when neither is known.
std::wstring DatabasePath(const Options& options, std::string* error);
// The folder and every missing folder above it.
void MakeFolders(const std::wstring& folder);

} // namespace orvantacli
