// Why a module cannot be loaded, in words a user can act on: built for
// another machine, or a DLL it imports that is nowhere Windows looks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// "" for an x64 module; otherwise, for example, "32-bit module: built for
// x86; only 64-bit (x64) modules can be loaded". With x86Too (a 32-bit
// server scans x86 modules) "" for an x86 module too, and "...; only x64
// and x86 modules can be loaded" for the others.
std::string WrongMachineText(uint16_t machine, bool x86Too = false);
// "32-bit module: built for x86; the 32-bit scan server is missing: PATH".
std::string MissingX86ServerText(const std::wstring& server);

// A name of an API set ("api-ms-win-...", "ext-ms-..."): Windows resolves
// those itself, so they count as present.
bool IsApiSetName(const std::string& dll);

// The folders a DLL imported by the module is looked for in, in the order
// Windows searches them for a module loaded by its full path: the module's
// own folder, the system folder (for an x86 module the 32-bit one WoW64
// gives it), the Windows folder, each folder of PATH.
std::vector<std::wstring> DependencyFolders(const std::wstring& modulePath, bool x86 = false);

// "needs a.dll, not found", "needs a.dll and b.dll, not found", "needs
// a.dll, b.dll and c.dll, not found", "needs a.dll, b.dll, c.dll and 2 more,
// not found"; "" for none.
std::string NotFoundText(const std::vector<std::string>& missing);

// The DLLs the module imports (delay-loaded ones too) that are in none of
// those folders, as NotFoundText gives them; "" when every one is found or
// the module's imports cannot be read.
std::string MissingDependencyText(const std::wstring& modulePath);

} // namespace orvanta
