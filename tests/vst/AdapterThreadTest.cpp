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

namespace
{
// A processor whose parameter calls take a while, and which counts the calls still inside it when
// it is destroyed; the counters belong to the test, so a late call never touches the processor.
class SlowParameterProcessor : public HalvingProcessor
{
public:
    SlowParameterProcessor(std::atomic<int>& callsInside, std::atomic<int>& destroyedWithCallsInside)
        : inside(callsInside), destroyedBeside(destroyedWithCallsInside)
    {
    }
    ~SlowParameterProcessor() override
    {
        if (inside > 0)
            ++destroyedBeside;
    }
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    int getNumParameters() override { return 1; }
    float getParameter(int) override
    {
        stayAWhile(inside);
        return 0.0f;
    }
    void setParameter(int, float) override { stayAWhile(inside); }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

private:
    // Until both calls are inside, and a little longer.
    static void stayAWhile(std::atomic<int>& calls)
    {
        ++calls;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (calls < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --calls;
    }

    std::atomic<int>& inside;
    std::atomic<int>& destroyedBeside;
};
} // namespace

// The host closes the plug-in while its other threads are still inside parameter calls: the close
// waits for them, so the processor outlives every call that reached it.
TEST(AdapterThreads, CloseWaitsForTheCallsUnderWay)
{
    std::atomic<int> inside{0}, destroyedWithCallsInside{0};
    AEffect* effect =
        (new JuceVSTWrapper(answerHost, std::make_unique<SlowParameterProcessor>(inside, destroyedWithCallsInside)))
            ->getAeffect();
    dispatch(effect, effOpen, 0);
    std::thread setter([&] { effect->setParameter(effect, 0, 0.5f); });
    std::thread getter([&] { effect->getParameter(effect, 0); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (inside < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    dispatch(effect, effClose, 0);
    setter.join();
    getter.join();
    EXPECT_EQ(destroyedWithCallsInside, 0);
}
