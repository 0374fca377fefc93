#include "formats/vst3/vst3_host_rules.h"
#include <algorithm>

namespace orvanta {

namespace {

void ApplyFactoryVendor(const std::string& factoryVendor, Vst3Class* c)
{
    if (factoryVendor.empty() || !c->vendor.empty())
        return;
    c->vendor = factoryVendor;
    c->vendorFromFactory = true;
}

} // namespace

void ApplyFactoryVendor(const std::string& factoryVendor, std::vector<Vst3Class>* classes)
{
    for (Vst3Class& c : *classes)
        ApplyFactoryVendor(factoryVendor, &c);
}

void ApplyFactoryVendor(const std::string& factoryVendor, std::vector<PluginEntry>* classes)
{
    for (PluginEntry& entry : *classes)
    {
        if (entry.vst3)
            ApplyFactoryVendor(factoryVendor, &*entry.vst3);
    }
}

void MarkListedControllers(std::vector<PluginEntry>* classes)
{
    for (PluginEntry& entry : *classes)
    {
        if (!entry.vst3 || !entry.vst3->controller || entry.vst3->controller->empty())
            continue;
        const std::string& id = *entry.vst3->controller;
        entry.vst3->controllerListed =
            std::any_of(classes->begin(), classes->end(),
                        [&](const PluginEntry& other) { return other.vst3 && other.vst3->classId == id; });
    }
}

std::vector<std::string> MarkVst3Ara(std::vector<PluginEntry>* classes)
{
    std::vector<PluginEntry*> audioModules;
    for (PluginEntry& entry : *classes)
    {
        if (entry.vst3 && entry.vst3->category == Vst3AudioModuleClass && !entry.vst3->classId.empty())
            audioModules.push_back(&entry);
    }
    std::vector<std::string> findings;
    for (const PluginEntry& ara : *classes)
    {
        if (!ara.vst3 || ara.vst3->category != Vst3AraMainFactoryClass || ara.vst3->classId.empty())
            continue;
        PluginEntry* paired = nullptr;
        for (PluginEntry* audio : audioModules)
        {
            if (audio->vst3->name == ara.vst3->name)
            {
                paired = audio;
                break;
            }
        }
        if (!paired && audioModules.size() == 1)
            paired = audioModules[0];
        if (!paired)
        {
            findings.push_back("class " + ara.vst3->classId + " ('" + ara.vst3->name + "'): an ARA main factory " +
                               "class that names no audio module class of the module");
            continue;
        }
        if (!paired->ara)
        {
            paired->ara.emplace();
            paired->ara->factoryClass = ara.vst3->classId;
        }
    }
    return findings;
}

} // namespace orvanta
