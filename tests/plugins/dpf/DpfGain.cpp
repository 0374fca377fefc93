// A small plugin of our own on the DISTRHO Plugin Framework: stereo in and
// out at half level, MIDI in (taken and ignored). It stands for the plugins
// we did not write: the framework's VST 2, VST3 and CLAP code is real.
#include "DistrhoPlugin.hpp"

START_NAMESPACE_DISTRHO

class DpfGain : public Plugin
{
public:
    DpfGain() : Plugin(0, 0, 0) {}

protected:
    const char* getLabel() const override { return "OrvantaDpfGain"; }
    const char* getDescription() const override { return "Halves the level of a stereo signal."; }
    const char* getMaker() const override { return "Zandrel Software"; }
    const char* getHomePage() const override { return "https://example.com/orvanta"; }
    const char* getLicense() const override { return "ISC"; }
    uint32_t getVersion() const override { return d_version(1, 2, 3); }
    int64_t getUniqueId() const override { return d_cconst('O', 'd', 'G', 'n'); }

    void run(const float** inputs, float** outputs, uint32_t frames, const MidiEvent*, uint32_t) override
    {
        for (uint32_t channel = 0; channel < DISTRHO_PLUGIN_NUM_OUTPUTS; channel++)
            for (uint32_t i = 0; i < frames; i++)
                outputs[channel][i] = inputs[channel][i] * 0.5f;
    }

private:
    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DpfGain)
};

Plugin* createPlugin()
{
    return new DpfGain();
}

END_NAMESPACE_DISTRHO
