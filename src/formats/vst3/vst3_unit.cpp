// Which files and folders are VST3 modules and where installers put them.
#include "formats/vst3/vst3_unit.h"
#include "formats/install_folders.h"
#include "formats/vst3/bundle_binary.h"

namespace orvanta {

namespace {

// The first database format with VST3 modules.
constexpr int Vst3DatabaseFormat = 2;

} // namespace

// A bundle folder NAME.vst3 is one module: the DLLs and files inside it are
// its own parts, never modules of their own.
Vst3Unit::Vst3Unit() : FormatUnit(PluginFormat::vst3, "vst3", L".vst3", true, Vst3DatabaseFormat) {}

// A bundle changes with its binary's size, even while the binary is
// missing: its scan then says what is wrong.
std::wstring Vst3Unit::BundleBinary(const std::wstring& bundle) const
{
    // Change detection is the same whatever the scanning host's machines.
    return Vst3BundleBinary(bundle, true);
}

std::vector<std::wstring> Vst3Unit::InstallFolders() const
{
    return {FolderBelow(L"COMMONPROGRAMFILES", L"VST3"), FolderBelow(L"LOCALAPPDATA", L"Programs\\Common\\VST3")};
}

} // namespace orvanta
