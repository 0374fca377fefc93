// A module entry's "presets" member, both ways: the providers, the
// locations with their stamps, the presets and the findings of a module
// whose presets were read (docs/database-format.md#presets).
#pragma once
#include "database/database_file.h"

namespace orvanta {

Json PresetsToJson(const ModulePresets& presets);
// The entry's "presets" member, when it has one; false with the reason
// (naming the member) for one of another shape.
bool PresetsFromJson(MemberReader& entry, std::optional<ModulePresets>* presets);

} // namespace orvanta
