// Products as the database groups its own entries on every write: pointing
// into the records, so thousands of plugins are grouped and written without
// copying them into Product records first.
#pragma once
#include "orvanta/products.h"
#include <string>
#include <utility>
#include <vector>

namespace orvanta {

// One plugin of a product; valid while the records it came from are.
struct LinkedPlugin
{
    const PluginEntry* entry = nullptr;
    PluginFormat format = PluginFormat::vst2;
    const std::wstring* path = nullptr;
    std::string id; // in its format's form
    const std::string* name = nullptr;
    const std::string* vendor = nullptr;
    const std::string* machine = nullptr; // the module's: "x64", "x86", ... or ""
    const char* link = LinkAlone;
};

struct LinkedProducts
{
    std::vector<LinkedPlugin> plugins; // product by product, each product's in member order
    std::vector<std::pair<size_t, size_t>> products; // [first, end) of plugins, in product order
};

LinkedProducts GroupProducts(const std::vector<const ModuleRecord*>& modules);
std::vector<Product> LinkProducts(const std::vector<const ModuleRecord*>& modules);

} // namespace orvanta
