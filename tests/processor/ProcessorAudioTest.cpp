// GoogleTest first: the X11 headers that JUCE pulls in define None.
#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "TestModelData.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <unistd.h>

namespace
{
// One folder per test process: ctest runs the cases of this suite in parallel processes, and a
// shared folder would let one process read a file that another is still writing.
juce::String modelFolder()
{
    return juce::String(testing::TempDir()) + "velmorant_processor_models_" + juce::String(::getpid()) + "/";
}

// Channel 0 a sine, channel 1 (when present) a sine of another frequency and level.
juce::AudioBuffer<float> testSignal(int channels, int samples)
{
    juce::AudioBuffer<float> buffer(channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        for (int n = 0; n < samples; ++n)
            buffer.setSample(ch, n, (ch == 0 ? 0.5f : 0.2f) * std::sin(0.05f * static_cast<float>(n * (ch + 1))));
    return buffer;
}

bool allFinite(const juce::AudioBuffer<float>& buffer)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int n = 0; n < buffer.getNumSamples(); ++n)
            if (!std::isfinite(buffer.getSample(ch, n)))
                return false;
    return true;
}

bool channelsEqual(const juce::AudioBuffer<float>& buffer)
{
    for (int n = 0; n < buffer.getNumSamples(); ++n)
        if (buffer.getSample(0, n) != buffer.getSample(1, n))
            return false;
    return true;
}

class ProcessorAudio : public testing::Test
{
protected:
    static void SetUpTestSuite() { writeTestModelData(juce::File(modelFolder())); }
    static void TearDownTestSuite() { juce::File(modelFolder()).deleteRecursively(); }

    ProcessorAudio()
    {
        testing::internal::CaptureStderr();
        processor = std::make_unique<VelmorantPreampAudioProcessor>(modelFolder());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }

    void configure(int inputs, int outputs, double rate = 44100.0)
    {
        processor->setPlayConfigDetails(inputs, outputs, rate, blockSize);
        processor->prepareToPlay(rate, blockSize);
    }

    juce::AudioBuffer<float> process(int channels)
    {
        auto buffer = testSignal(channels, blockSize);
        processor->processBlock(buffer, midi);
        EXPECT_TRUE(allFinite(buffer));
        return buffer;
    }

    static constexpr int blockSize = 256;
    juce::ScopedJuceInitialiser_GUI juce;
    std::unique_ptr<VelmorantPreampAudioProcessor> processor;
    juce::MidiBuffer midi;
};
} // namespace

TEST_F(ProcessorAudio, MonoCopiesTheProcessedFirstChannel)
{
    EXPECT_TRUE(processor->getChannel(0).isReady());
    EXPECT_TRUE(processor->getChannel(1).isReady());
    configure(2, 2);
    const auto buffer = process(2);
    EXPECT_GT(buffer.getMagnitude(0, 0, blockSize), 0.0f);
    EXPECT_TRUE(channelsEqual(buffer));
}

TEST_F(ProcessorAudio, OutputsBeyondTheInputsAreCleared)
{
    configure(1, 2);
    const auto buffer = process(2);
    EXPECT_GT(buffer.getMagnitude(0, 0, blockSize), 0.0f);
    EXPECT_EQ(buffer.getMagnitude(1, 0, blockSize), 0.0f);

    juce::AudioBuffer<float> empty(2, 0);
    processor->processBlock(empty, midi);
    EXPECT_EQ(empty.getNumSamples(), 0);
}

TEST_F(ProcessorAudio, StereoProcessesEachChannelOnItsOwn)
{
    configure(2, 2);
    for (float oversampling : {0.0f, 0.25f})
    {
        processor->setParameter(paramOversampling, oversampling);
        processor->setParameter(paramMonoStereo, 1.0f);
        const auto buffer = process(2);
        EXPECT_GT(buffer.getMagnitude(1, 0, blockSize), 0.0f);
        EXPECT_FALSE(channelsEqual(buffer)) << oversampling;
        processor->setParameter(paramMonoStereo, 0.0f);
        EXPECT_TRUE(channelsEqual(process(2))) << oversampling;
    }
}

TEST_F(ProcessorAudio, StereoRoutineLeavesAMissingSecondChannelAlone)
{
    configure(2, 2);
    processor->setParameter(paramMonoStereo, 1.0f);
    configure(1, 1); // the host switched to one input and one output afterwards
    const auto buffer = process(1);
    EXPECT_GT(buffer.getMagnitude(0, 0, blockSize), 0.0f);
}

TEST_F(ProcessorAudio, ChainsRunAtTheHostsRate)
{
    configure(2, 2, 48000.0);
    EXPECT_EQ(processor->getChannel(0).baseRate, 48000u);
    processor->setParameter(paramOversampling, 0.5f);
    EXPECT_EQ(processor->getChannel(1).internalRate, 4u * 48000u);
    EXPECT_GT(process(2).getMagnitude(0, 0, blockSize), 0.0f);
}

// Host and editor change parameters and programs while the audio thread processes, as the plug-in
// adapter drives it: under the callback lock, silence while suspended.
TEST_F(ProcessorAudio, ConcurrentChangesWhileProcessing)
{
    configure(2, 2);
    std::atomic<bool> done{false};
    std::atomic<bool> nonFinite{false};
    std::thread audio([&] {
        auto buffer = testSignal(2, 64);
        while (!done)
        {
            {
                const juce::ScopedLock lock(processor->getCallbackLock());
                if (processor->isSuspended())
                    buffer.clear();
                else
                    processor->processBlock(buffer, midi);
                nonFinite = nonFinite || !allFinite(buffer);
            }
            // A host's audio thread waits for its next block between calls; a thread that relocks at
            // once can starve the others of an unfair lock (Windows critical sections are unfair).
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::thread host([&] {
        for (int i = 0; i < 40; ++i)
        {
            processor->setParameter(paramChannel, static_cast<float>(i % 2));
            processor->setParameter(paramGain, static_cast<float>(i % 5) * 0.25f);
            processor->setParameter(paramInput, static_cast<float>(i % 3) * 0.5f);
            processor->setParameter(paramOversampling, static_cast<float>(i % 3) * 0.25f);
            juce::ignoreUnused(processor->getParameterText(i % preampParameterCount));
        }
    });
    std::thread editor([&] {
        juce::MemoryBlock chunk;
        for (int i = 0; i < 40; ++i)
        {
            processor->setCurrentProgram(i % 3);
            processor->setParameter(paramTreble, static_cast<float>(i % 4) * 0.25f);
            processor->setParameter(paramMonoStereo, static_cast<float>(i % 2));
            processor->setParameter(paramOutput, static_cast<float>(i % 7) / 7.0f);
            processor->getStateInformation(chunk);
            juce::ignoreUnused(processor->getCurrentProgramCopy());
        }
    });
    host.join();
    editor.join();
    done = true;
    audio.join();
    EXPECT_FALSE(nonFinite);
    EXPECT_FALSE(processor->isSuspended());
    EXPECT_TRUE(processor->getChannel(0).isReady());
}
