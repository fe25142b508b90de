// libFuzzer target for the preset chunk, the bytes a host hands the plug-in as its saved state.
// They go through the preset document reader and through the processor's state restore. Whatever
// is read must survive writing and reading again unchanged, and a restored processor must save a
// chunk that restores to the same chunk.
#include "ChainDriver.h"
#include "PresetDocument.h"
#include "VelmorantPreampAudioProcessor.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{
// The processor without its engine: programs, the document and the order of changes are all real,
// only model files, preparation and stage steps are left out, so each input takes microseconds.
class EngineFreeDriver : public ChainDriver
{
public:
    bool loadStage(PreampChannel&, int, int, SSParamsVecAutomation*, const juce::String&, bool) override { return true; }
    void prepare(PreampChannel&, int, int, int) override {}
    void setStageStep(PreampChannel&, int, int, int) override {}
};

class EngineFreeProcessor : public VelmorantPreampAudioProcessor
{
public:
    EngineFreeProcessor()
        : VelmorantPreampAudioProcessor("/nonexistent/velmorant-fuzz-models/", std::make_unique<EngineFreeDriver>())
    {
    }
};

bool sameState(const PresetState& a, const PresetState& b)
{
    if (a.currentProgram != b.currentProgram)
        return false;
    for (std::size_t p = 0; p < a.programs.size(); ++p)
        if (a.programs[p].name != b.programs[p].name
            || std::memcmp(a.programs[p].values.data(), b.programs[p].values.data(), sizeof a.programs[p].values) != 0)
            return false;
    return true;
}

void checkDocumentRoundTrip(const std::uint8_t* data, std::size_t size)
{
    const auto state = PresetDocument::read(data, static_cast<int>(size), {});
    if (!state)
        return;
    juce::MemoryBlock written;
    PresetDocument::write(state->programs, state->currentProgram, written);
    const auto reread = PresetDocument::read(written.getData(), static_cast<int>(written.getSize()), {});
    if (!reread || !sameState(*state, *reread))
        __builtin_trap();
}

void checkStateRestore(const std::uint8_t* data, std::size_t size)
{
    static EngineFreeProcessor processor;
    processor.setStateInformation(data, static_cast<int>(size));
    juce::MemoryBlock saved, savedAgain;
    processor.getStateInformation(saved);
    processor.setStateInformation(saved.getData(), static_cast<int>(saved.getSize()));
    processor.getStateInformation(savedAgain);
    if (saved != savedAgain)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static juce::ScopedJuceInitialiser_GUI juce;
    if (size > 0x7fffffff)
        return 0;
    checkDocumentRoundTrip(data, size);
    checkStateRestore(data, size);
    return 0;
}
