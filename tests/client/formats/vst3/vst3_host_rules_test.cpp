// What a host derives from a module's plugin list: ARA classes paired with
// their audio module class, and CLAP's ARA from factory and features.
#include "formats/clap/clap_host_rules.h"
#include "formats/vst3/vst3_host_rules.h"
#include <gtest/gtest.h>

using namespace orvanta;

namespace {

PluginEntry Class(const std::string& id, const char* category, const std::string& name)
{
    PluginEntry entry;
    entry.vst3.emplace();
    entry.vst3->classId = id;
    entry.vst3->category = category;
    entry.vst3->name = name;
    return entry;
}

const std::string AraId = "41524141524141524141524141524141";

} // namespace

TEST(Vst3Ara, AraClassPairsByNameElseWithTheOnlyAudioModuleElseIsAFinding)
{
    std::vector<PluginEntry> byName = {Class("00000000000000000000000000000001", Vst3AudioModuleClass, "Other"),
                                       Class("00000000000000000000000000000002", Vst3AudioModuleClass, "Tune"),
                                       Class(AraId, Vst3AraMainFactoryClass, "Tune")};
    EXPECT_EQ(MarkVst3Ara(&byName), std::vector<std::string>{});
    EXPECT_FALSE(byName[0].ara);
    ASSERT_TRUE(byName[1].ara);
    EXPECT_EQ(byName[1].ara->factoryClass, AraId);
    EXPECT_FALSE(byName[2].ara);

    std::vector<PluginEntry> only = {Class("00000000000000000000000000000001", Vst3AudioModuleClass, "Tune FX"),
                                     Class(AraId, Vst3AraMainFactoryClass, "Tune ARA")};
    MarkVst3Ara(&only);
    ASSERT_TRUE(only[0].ara);
    EXPECT_EQ(only[0].ara->factoryClass, AraId);

    std::vector<PluginEntry> none = {Class("00000000000000000000000000000001", Vst3AudioModuleClass, "A"),
                                     Class("00000000000000000000000000000002", Vst3AudioModuleClass, "B"),
                                     Class(AraId, Vst3AraMainFactoryClass, "C")};
    EXPECT_EQ(MarkVst3Ara(&none), std::vector<std::string>{"class 41524141524141524141524141524141 ('C'): an ARA "
                                                           "main factory class that names no audio module class "
                                                           "of the module"});
    EXPECT_FALSE(none[0].ara || none[1].ara);
}

TEST(ClapAra, FactoryOrFeatureMarksThePluginAndRequiredIsTheFeatures)
{
    const struct
    {
        const char* factory;
        std::vector<std::string> features;
        bool ara, required, feature;
    } rows[] = {
        {"", {"audio-effect"}, false, false, false},
        {"org.ara-audio.ara.factory/2", {"audio-effect"}, true, false, false},
        {"", {"audio-effect", "ara:supported"}, true, false, true},
        {"org.ara-audio.ara.factory.draft/2", {"ara:required"}, true, true, true},
    };
    for (const auto& row : rows)
    {
        PluginEntry plugin;
        plugin.clap.emplace();
        plugin.clap->features = row.features;
        MarkClapAra(row.factory, &plugin);
        ASSERT_EQ(plugin.ara.has_value(), row.ara) << row.factory;
        if (!plugin.ara)
            continue;
        EXPECT_EQ(plugin.ara->factory, row.factory);
        EXPECT_EQ(plugin.ara->required, row.required) << row.factory;
        EXPECT_EQ(plugin.ara->feature, row.feature) << row.factory;
    }
}
