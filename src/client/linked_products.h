// LinkProducts over records the caller holds: the database groups its own
// entries on every write without copying them.
#pragma once
#include "orvanta/products.h"
#include <vector>

namespace orvanta {

std::vector<Product> LinkProducts(const std::vector<const ModuleRecord*>& modules);

} // namespace orvanta
