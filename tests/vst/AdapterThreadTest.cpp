// The adapter between host and processor called from two threads at once, as a host that breaks the
// suspend rules calls it. The processor behind it only scales its audio, so the test needs no model
// data and builds quickly under ThreadSanitizer, which scripts/test.sh runs it under.
#include <gtest/gtest.h>

#include "JuceVSTWrapper.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace
{
class HalvingProcessor : public juce::AudioProcessor
{
public:
    const juce::String getName() const override { return "Halving"; }
    void prepareToPlay(double, int) override {}
    void releaseResources() override {}
    // Touches every sample of the buffer it is given, as a real processor does.
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            juce::FloatVectorOperations::multiply(buffer.getWritePointer(c), 0.5f, buffer.getNumSamples());
    }
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}
    void getStateInformation(juce::MemoryBlock&) override {}
    void setStateInformation(const void*, int) override {}
};

VstIntPtr answerHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstIntPtr value, float opt = 0.0f)
{
    return effect->dispatcher(effect, opcode, 0, value, nullptr, opt);
}
} // namespace

// Audio runs on one thread while another switches the block size between 1024 and 32 inside
// effMainsChanged: every slice must fit the work buffer as it is when the slice is processed.
TEST(AdapterThreads, BlockSizeSwitchedWhileAudioRuns)
{
    AEffect* effect = (new JuceVSTWrapper(answerHost, std::make_unique<HalvingProcessor>()))->getAeffect();
    dispatch(effect, effOpen, 0);
    dispatch(effect, effSetSampleRate, 0, 44100.0f);
    dispatch(effect, effSetBlockSize, 1024);
    dispatch(effect, effMainsChanged, 1);

    std::atomic<bool> done{false};
    std::atomic<bool> halved{true};
    std::thread audio([&] {
        std::vector<float> left(1024, 1.0f), right(1024, 1.0f), outLeft(1024), outRight(1024);
        float* inputs[] = {left.data(), right.data()};
        float* outputs[] = {outLeft.data(), outRight.data()};
        while (!done)
        {
            effect->processReplacing(effect, inputs, outputs, 1024);
            for (float sample : outLeft)
                if (sample != 0.5f && sample != 0.0f) // silent while suspended
                    halved = false;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    for (int cycle = 0; cycle < 300; ++cycle)
    {
        dispatch(effect, effMainsChanged, 0);
        dispatch(effect, effSetBlockSize, cycle % 2 == 0 ? 32 : 1024);
        dispatch(effect, effMainsChanged, 1);
    }
    done = true;
    audio.join();
    dispatch(effect, effClose, 0);
    EXPECT_TRUE(halved);
}
