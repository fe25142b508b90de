// The processor behind the plug-in adapter, driven from several threads as hosts drive it: the
// audio thread automates pot steps, valve, channel and programs (its reloads run on the worker),
// another thread changes settings and reads what the editor reads, and the host closes the plug-in
// while the worker reloads. Small model data keeps it quick under ThreadSanitizer, which
// scripts/test.sh runs it under.

// GoogleTest first: the X11 headers that JUCE pulls in define None.
#include <gtest/gtest.h>

#include "EngineSettings.h"
#include "JuceVSTWrapper.h"
#include "TestModelData.h"
#include "VelmorantPreampAudioProcessor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
VstIntPtr answerHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstIntPtr value = 0, float opt = 0.0f)
{
    return effect->dispatcher(effect, opcode, 0, value, nullptr, opt);
}

struct Audio
{
    static constexpr int frames = 64;
    std::vector<float> left = std::vector<float>(frames), right = std::vector<float>(frames),
                       outLeft = std::vector<float>(frames), outRight = std::vector<float>(frames);

    bool silent() const
    {
        return std::all_of(outLeft.begin(), outLeft.end(), [](float v) { return v == 0.0f; });
    }

    // One block of a sine; false when an output sample is not finite.
    bool process(AEffect* effect, int block)
    {
        for (int i = 0; i < frames; ++i)
            left[size_t(i)] = right[size_t(i)] = 0.4f * std::sin(0.05f * float(block * frames + i));
        float* inputs[] = {left.data(), right.data()};
        float* outputs[] = {outLeft.data(), outRight.data()};
        effect->processReplacing(effect, inputs, outputs, frames);
        for (int i = 0; i < frames; ++i)
            if (!std::isfinite(outLeft[size_t(i)]) || !std::isfinite(outRight[size_t(i)]))
                return false;
        return true;
    }
};

// Whether every stage of both chains runs the current program's pot step; asked only while no
// engine change is suspended, under the callback lock that steps between blocks take.
bool chainsRunTheProgramsSteps(VelmorantPreampAudioProcessor& processor)
{
    const juce::ScopedLock lock(processor.getCallbackLock());
    if (processor.isSuspended())
        return false;
    const PreampProgram program = processor.getCurrentProgramCopy();
    for (int chain = 0; chain < 2; ++chain)
        for (int stage = 0; stage < EngineSettings::stageCount; ++stage)
            if (processor.getChannel(chain).currentStep[stage] != uint32_t(EngineSettings::stageStep(program, stage)))
                return false;
    return true;
}
} // namespace

TEST(ProcessorThreads, ReloadsForTheAudioThreadRunOnTheWorkerAndKeepTheLatestSettings)
{
    const juce::String folder = juce::String(testing::TempDir()) + "velmorant_thread_models_" + juce::String(::getpid()) + "/";
    writeTestModelData(juce::File(folder));
    auto owned = std::make_unique<VelmorantPreampAudioProcessor>(folder);
    VelmorantPreampAudioProcessor& processor = *owned;
    AEffect* effect = (new JuceVSTWrapper(answerHost, std::move(owned)))->getAeffect();
    dispatch(effect, effOpen);
    dispatch(effect, effSetSampleRate, 0, 48000.0f);
    dispatch(effect, effSetBlockSize, Audio::frames);
    dispatch(effect, effMainsChanged, 1);

    std::atomic<bool> finite{true};
    std::atomic<int> switches{0}, switchesHeard{0};
    std::thread audio([&] {
        Audio blocks;
        for (int block = 0; block < 300; ++block)
        {
            effect->setParameter(effect, paramGain, float(block % 17) / 16.0f);
            const float valve = float((block / 40) % 2);
            const bool switching = block % 40 == 10 && effect->getParameter(effect, paramDualTriodes) != valve;
            if (switching)
            {
                effect->setParameter(effect, paramDualTriodes, valve);
                ++switches;
            }
            if (block % 70 == 30)
                effect->setParameter(effect, paramChannel, float((block / 70) % 2));
            if (block % 90 == 45)
                dispatch(effect, effSetProgram, (block / 90) % 3);
            if (!blocks.process(effect, block))
                finite = false;
            if (switching && !blocks.silent())
                ++switchesHeard; // the block right after the request must be suspended
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // The host's other thread and the editor: changes applied there, the editor's level reads.
    for (int i = 0; i < 40; ++i)
    {
        effect->setParameter(effect, paramBass, float(i % 5) / 4.0f);
        if (i % 10 == 0)
            effect->setParameter(effect, paramOversampling, float(i % 20) / 40.0f);
        {
            const juce::ScopedLock lock(processor.getCallbackLock());
            juce::ignoreUnused(processor.getChannel(0).levels.sum, processor.getChannel(1).levels.sumSquares);
        }
        char text[64] = {};
        effect->dispatcher(effect, effGetParamDisplay, i % preampParameterCount, 0, text, 0.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    audio.join();
    EXPECT_TRUE(finite);
    EXPECT_GT(switches, 2);
    EXPECT_EQ(switchesHeard, 0);

    // Pot steps that arrived during reloads reached the reloaded chains.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!chainsRunTheProgramsSteps(processor) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(chainsRunTheProgramsSteps(processor));
    EXPECT_TRUE(processor.getChannel(0).isReady());

    // The host closes the plug-in right after its audio thread asked for a valve switch.
    std::thread([&] {
        Audio blocks;
        blocks.process(effect, 0);
        effect->setParameter(effect, paramDualTriodes, effect->getParameter(effect, paramDualTriodes) < 0.5f ? 1.0f : 0.0f);
    }).join();
    dispatch(effect, effClose);
    juce::File(folder).deleteRecursively();
}
