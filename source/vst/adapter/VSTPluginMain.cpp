// The plug-in library's only exported function: the host calls it with its callback and gets the
// plug-in's record, or null.

#include "JuceVSTWrapper.h"

#include "VelmorantPreampAudioProcessor.h"

namespace {

AEffect* createPlugin(audioMasterCallback audioMaster) {
    velmorant::platform::adoptPluginModule();
    // Keeps JUCE (its message manager included) alive while the plug-in is made; the adapter holds
    // its own reference from then on. The calling thread acts as the message thread meanwhile.
    juce::ScopedJuceInitialiser_GUI libraryInitialiser;
    velmorant::platform::HostDrivenEvents hostDrivenEventLoop;

    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;

    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_VST);
    auto processor = std::make_unique<VelmorantPreampAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);

    auto* wrapper = new JuceVSTWrapper(audioMaster, std::move(processor));
    return wrapper->getAeffect();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster);

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    if (audioMaster == nullptr) return nullptr;  // a host without a callback cannot be answered
    try {
        return createPlugin(audioMaster);
    } catch (...) {
        return nullptr;
    }
}
