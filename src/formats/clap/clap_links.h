// The plugins of other formats a CLAP plugin declares itself the same
// product as: through the VST3-info factory and the state converters of
// its module's report.
#pragma once
#include "formats/clap/clap_report_parser.h"
#include "orvanta/scan.h"
#include <string>
#include <vector>

namespace orvanta {

constexpr const char* ClapVst3InfoFactory = "clap.plugin-factory-info-as-vst3.draft0";
constexpr const char* ClapConverterFactory = "clap.plugin-state-converter-factory/1";

// The links of the report's plugin at index: its declared VST3 class, then
// the source of each converter whose destination is that plugin, in the
// factory's order, each once. A converter whose source cannot be written in
// its format's form (a VST 2 ID that is no 32-bit number, a VST3 UUID that
// is not 32 hex digits once its dashes are gone, an unknown ABI) is left out.
std::vector<FormatLink> ClapDeclaredLinks(const ClapModuleReport& report, size_t index);

} // namespace orvanta
