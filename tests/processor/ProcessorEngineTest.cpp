// GoogleTest first: the X11 headers that JUCE pulls in define None.
#include <gtest/gtest.h>

#include "EngineSettings.h"
#include "ProcessorTestSupport.h"


#include <initializer_list>

namespace
{
using Events = std::vector<std::string>;

const juce::String missingFolder = "/nonexistent/velmorant-test-models/";

std::string load(int chain, int stage, const std::string& file)
{
    return "load " + std::to_string(chain) + " " + std::to_string(stage) + " " + file;
}

std::string prepare(int chain, int rate, int factor)
{
    return "prepare " + std::to_string(chain) + " " + std::to_string(rate) + " " + std::to_string(factor);
}

std::string step(int chain, int stage, int value)
{
    return "step " + std::to_string(chain) + " " + std::to_string(stage) + " " + std::to_string(value);
}

Events prepareBoth(int rate, int factor)
{
    return {prepare(0, rate, factor), prepare(1, rate, factor)};
}

Events stepsOf(std::initializer_list<int> stages, int gainStep, int toneStep)
{
    Events events;
    for (int chain = 0; chain < 2; ++chain)
        for (int stage : stages)
            events.push_back(step(chain, stage, stage == 3 ? toneStep : gainStep));
    return events;
}

Events allSteps(int gainStep = 8, int toneStep = 225)
{
    return stepsOf({0, 1, 2, 3}, gainStep, toneStep);
}

Events fullReload(const std::string& valve, const std::string& channel)
{
    const std::string prefix = "velmorant_pre_" + valve + "_";
    Events events{load(0, 0, prefix + "b1_" + channel + "_pca.dat"), load(1, 0, prefix + "b1_" + channel + "_pca.dat")};
    for (int chain = 0; chain < 2; ++chain)
    {
        events.push_back(load(chain, 1, prefix + "b2_pca.dat"));
        events.push_back(load(chain, 2, prefix + "b3_pca.dat"));
        events.push_back(load(chain, 3, prefix + "b4_std.dat standard"));
    }
    return events;
}

Events concat(std::initializer_list<Events> parts)
{
    Events all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class ProcessorEngine : public testing::Test
{
protected:
    ProcessorEngine()
    {
        testing::internal::CaptureStderr(); // the missing model data is reported at construction
        processor = std::make_unique<RecordingProcessor>(missingFolder, true);
        constructionMessages = testing::internal::GetCapturedStderr();
        constructionEvents = processor->takeEvents();
        changes = std::make_unique<ChangeCounter>(*processor);
    }

    // Clears the force flag through a parameter change that touches no engine structure.
    void clearForceFlag()
    {
        processor->setParameter(paramShowSettings, 1.0f);
        processor->setParameter(paramShowSettings, 0.0f);
        changes->take();
        processor->takeEvents();
    }

    juce::ScopedJuceInitialiser_GUI juce;
    std::unique_ptr<RecordingProcessor> processor;
    std::unique_ptr<ChangeCounter> changes;
    std::string constructionMessages;
    Events constructionEvents;
};
} // namespace

TEST_F(ProcessorEngine, AnswersTheHostsQueriesAfterConstruction)
{
    // Construction applies the default program in full, through the processor's driver.
    EXPECT_EQ(constructionEvents, concat({fullReload("eh", "low"), prepareBoth(44100, 1), allSteps()}));
    auto& p = *processor;
    EXPECT_EQ(p.getName(), "Velmorant Preamp");
    EXPECT_EQ(p.getNumParameters(), 11);
    EXPECT_EQ(p.getNumPrograms(), 12);
    EXPECT_EQ(p.getCurrentProgram(), 0);
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(p.getProgramName(k), juce::String(k + 1) + " default");
    EXPECT_EQ(p.getProgramName(12), "");
    EXPECT_EQ(p.getProgramName(-1), "");
    p.changeProgramName(12, "x");
    p.changeProgramName(-1, "x");
    p.changeProgramName(4, "Crunch");
    EXPECT_EQ(p.getProgramName(4), "Crunch");
    EXPECT_EQ(p.getParameterText(0), "12ax7 EH1");
    EXPECT_EQ(p.getParameterText(6), "off");
    EXPECT_EQ(p.getParameterText(3), "0.50");
    EXPECT_EQ(p.getParameterName(10), "Show settings");
    EXPECT_EQ(p.getParameter(11), 0.0f);
    EXPECT_EQ(p.getParameter(-1), 0.0f);
    EXPECT_EQ(p.getInputChannelName(0), "1");
    EXPECT_EQ(p.getOutputChannelName(1), "2");
    EXPECT_TRUE(p.isInputChannelStereoPair(0));
    EXPECT_FALSE(p.acceptsMidi() || p.producesMidi() || p.silenceInProducesSilenceOut());
    EXPECT_EQ(p.getTailLengthSeconds(), 0.0);
    EXPECT_TRUE(p.hasEditor());
    EXPECT_TRUE(p.isForceFlagSet());
    EXPECT_TRUE(p.isStateLoaded());
    for (int k = 0; k < preampParameterCount; ++k)
        EXPECT_FALSE(p.isParameterUnchanged(k)) << k;
    EXPECT_FLOAT_EQ(p.getChannel(0).inputGain, 1.5f);
    EXPECT_FLOAT_EQ(p.getChannel(1).outputGain, EngineSettings::outputGain(24.5f, 355.0));
}

TEST_F(ProcessorEngine, DefaultChunkByteForByte)
{
    juce::MemoryBlock chunk;
    processor->getStateInformation(chunk);
    EXPECT_EQ(bytesOf(chunk), frameChunk(expectedDefaultDocument()));
}

TEST_F(ProcessorEngine, MissingModelDataIsReportedOnceAndLeavesAUsableProcessor)
{
    EXPECT_EQ(std::count(constructionMessages.begin(), constructionMessages.end(), '\n'), 1) << constructionMessages;
    EXPECT_NE(constructionMessages.find((missingFolder + "velmorant_pre_eh_b1_low_pca.dat").toStdString()),
              std::string::npos) << constructionMessages;

    VelmorantPreampAudioProcessor real(missingFolder);
    real.setPlayConfigDetails(2, 2, 44100.0, 64);
    juce::AudioBuffer<float> buffer(2, 64);
    for (int ch = 0; ch < 2; ++ch)
        for (int n = 0; n < 64; ++n)
            buffer.setSample(ch, n, 0.5f);
    juce::MidiBuffer midi;
    testing::internal::CaptureStderr();
    real.setParameter(paramChannel, 1.0f); // still no data: one more line, no crash
    EXPECT_NE(testing::internal::GetCapturedStderr().find("velmorant_pre_eh_b1_high_pca.dat"), std::string::npos);
    real.processBlock(buffer, midi);
    EXPECT_EQ(buffer.getMagnitude(0, 64), 0.0f);
    EXPECT_EQ(real.getParameterText(paramChannel), "High");
}

TEST_F(ProcessorEngine, ProgramSelectionUnderTheForceFlagAppliesEverything)
{
    const Events everything = concat({fullReload("eh", "low"), prepareBoth(44100, 1), allSteps()});
    processor->setCurrentProgram(0);
    EXPECT_EQ(processor->takeEvents(), everything);
    EXPECT_EQ(changes->take(), 1);
    processor->setCurrentProgram(3);
    EXPECT_EQ(processor->takeEvents(), everything);
    EXPECT_EQ(changes->take(), 1);
    EXPECT_EQ(processor->getCurrentProgram(), 3);
    EXPECT_TRUE(processor->isForceFlagSet());

    processor->setCurrentProgram(12);
    processor->setCurrentProgram(-1);
    processor->setParameter(11, 0.5f);
    processor->setParameter(-1, 0.5f);
    EXPECT_TRUE(processor->takeEvents().empty());
    EXPECT_EQ(changes->take(), 0);
    EXPECT_EQ(processor->getCurrentProgram(), 3);
}

TEST_F(ProcessorEngine, EachParameterChangesWhatItControls)
{
    struct Case
    {
        int index;
        float value;
        bool changesValue;
        Events expected;
    };
    const Case cases[] = {
        {paramDualTriodes, 0.7f, false, {}}, // still valve 0: nothing at all
        {paramDualTriodes, 1.0f, true, concat({fullReload("rsd", "low"), prepareBoth(44100, 1), allSteps()})},
        {paramChannel, 1.0f, true, concat({{load(0, 0, "velmorant_pre_rsd_b1_high_pca.dat"),
                                      load(1, 0, "velmorant_pre_rsd_b1_high_pca.dat")},
                                     prepareBoth(44100, 1), stepsOf({0}, 8, 225)})},
        {paramGain, 1.0f, true, stepsOf({0, 1, 2}, 16, 225)},
        {paramTreble, 1.0f, true, stepsOf({3}, 16, (14 * 15 + 7) * 2 + 1)},
        {paramBass, 1.0f, true, stepsOf({3}, 16, (14 * 15 + 14) * 2 + 1)},
        {paramVoice, 0.0f, true, stepsOf({3}, 16, 448)},
        {paramOversampling, 1.0f, true, prepareBoth(44100, 16)},
        {paramMonoStereo, 1.0f, true, prepareBoth(44100, 16)},
        {paramInput, 0.5f, false, {}}, // the default already
        {paramInput, 1.0f, true, {}},
        {paramOutput, 1.0f, true, {}},
        {paramShowSettings, 1.0f, true, {}},
    };
    bool forceFlagExpected = true;
    for (const auto& c : cases)
    {
        processor->setParameter(c.index, c.value);
        EXPECT_EQ(processor->takeEvents(), c.expected) << c.index;
        EXPECT_EQ(changes->take(), c.changesValue ? 1 : 0) << c.index;
        forceFlagExpected = forceFlagExpected && !c.changesValue;
        EXPECT_EQ(processor->isForceFlagSet(), forceFlagExpected) << c.index;
    }
    EXPECT_FLOAT_EQ(processor->getChannel(0).inputGain, 3.0f);
    EXPECT_NEAR(processor->getChannel(1).outputGain, 0.0335563, 1e-7);
    EXPECT_FALSE(processor->isSuspended());

    // 27/49 stores 26.999998, which selects output level 26, not 27.
    processor->setParameter(paramOutput, 27.0f / 49.0f);
    EXPECT_EQ(processor->getChannel(0).outputGain, EngineSettings::outputGain(26.0f, 355.0));
    EXPECT_NEAR(processor->getChannel(0).outputGain, 0.0099260, 1e-7);
}

TEST_F(ProcessorEngine, ProgramSwitchAppliesOnlyWhatDiffers)
{
    clearForceFlag();
    processor->setCurrentProgram(1); // equal to program 0: only the index moves
    EXPECT_TRUE(processor->takeEvents().empty());
    EXPECT_EQ(changes->take(), 0);
    EXPECT_EQ(processor->getCurrentProgram(), 1);
    processor->setCurrentProgram(1);
    EXPECT_TRUE(processor->takeEvents().empty());

    processor->setParameter(paramInput, 1.0f); // program 1 differs from 0 only in Input
    changes->take();
    processor->setCurrentProgram(0);
    EXPECT_EQ(processor->takeEvents(), allSteps());
    EXPECT_EQ(changes->take(), 1);
    EXPECT_FLOAT_EQ(processor->getChannel(0).inputGain, 1.5f);
    EXPECT_TRUE(processor->isParameterUnchanged(paramGain));
    EXPECT_FALSE(processor->isParameterUnchanged(paramInput));

    processor->setParameter(paramOversampling, 0.25f); // program 0: x2
    processor->takeEvents();
    processor->setCurrentProgram(2);
    EXPECT_EQ(processor->takeEvents(), concat({prepareBoth(44100, 1), allSteps()}));

    processor->setParameter(paramChannel, 1.0f); // program 2: High
    processor->takeEvents();
    processor->setCurrentProgram(3);
    EXPECT_EQ(processor->takeEvents(), concat({{load(0, 0, "velmorant_pre_eh_b1_low_pca.dat"),
                                                load(1, 0, "velmorant_pre_eh_b1_low_pca.dat")},
                                               prepareBoth(44100, 1), allSteps()}));

    processor->setParameter(paramDualTriodes, 1.0f); // program 3: RSD-1 and Low; program 2: EH1 and High
    processor->takeEvents();
    processor->setCurrentProgram(2);
    EXPECT_EQ(processor->takeEvents(), concat({fullReload("eh", "high"), prepareBoth(44100, 1), allSteps()}));
}

// Which changes suspend processing (a suspended block comes out silent): pot steps reach the chains
// between two blocks instead, with processing running on.
TEST(ProcessorSuspension, PotStepsNeverSuspendProcessing)
{
    // Counts preparations and steps by whether processing was suspended; touches no chain.
    struct SuspensionWatcher : ChainDriver
    {
        bool loadStage(PreampChannel&, int, int, SSParamsVecAutomation*, const juce::String&, bool) override
        {
            return true;
        }
        void prepare(PreampChannel&, int, int, int) override { count(); }
        void setStageStep(PreampChannel&, int, int, int) override { count(); }
        void count()
        {
            if (processor != nullptr)
                ++(processor->isSuspended() ? suspended : running);
        }
        const juce::AudioProcessor* processor = nullptr;
        int suspended = 0, running = 0;
    };
    const juce::ScopedJuceInitialiser_GUI juce;
    testing::internal::CaptureStderr();
    auto* watcher = new SuspensionWatcher;
    VelmorantPreampAudioProcessor processor(missingFolder, std::unique_ptr<ChainDriver>(watcher));
    watcher->processor = &processor;
    for (const int potStep : {paramGain, paramTreble, paramBass, paramVoice})
    {
        watcher->suspended = watcher->running = 0;
        processor.setParameter(potStep, 0.0f); // the defaults are all above 0
        EXPECT_EQ(watcher->suspended, 0) << potStep;
        EXPECT_GT(watcher->running, 0) << potStep;
    }
    for (const int structural : {paramOversampling, paramMonoStereo, paramChannel, paramDualTriodes})
    {
        watcher->suspended = watcher->running = 0;
        processor.setParameter(structural, 1.0f); // the defaults are all 0
        EXPECT_GT(watcher->suspended, 0) << structural;
        EXPECT_EQ(watcher->running, 0) << structural;
    }
    EXPECT_FALSE(processor.isSuspended());
    testing::internal::GetCapturedStderr();
}

TEST_F(ProcessorEngine, HostRateReachesTheChainsAtOnceAndEveryStartPreparesThem)
{
    processor->prepareToPlay(48000.7, 512);
    EXPECT_EQ(processor->takeEvents(), concat({prepareBoth(48000, 1), allSteps()}));
    processor->prepareToPlay(48000.0, 256);
    EXPECT_EQ(processor->takeEvents(), concat({prepareBoth(48000, 1), allSteps()}));
    processor->prepareToPlay(0.0, 256);
    processor->prepareToPlay(std::numeric_limits<double>::quiet_NaN(), 256);
    EXPECT_TRUE(processor->takeEvents().empty());
    processor->setParameter(paramOversampling, 0.5f);
    EXPECT_EQ(processor->takeEvents(), prepareBoth(48000, 4));
}

TEST_F(ProcessorEngine, RestoredStateReachesTheEngineInFull)
{
    clearForceFlag();
    juce::MemoryBlock saved;
    processor->getStateInformation(saved);

    for (int k = 0; k < preampParameterCount; ++k)
        processor->setParameter(k, 1.0f);
    processor->changeProgramName(0, "changed");
    juce::MemoryBlock changed;
    processor->getStateInformation(changed);
    EXPECT_NE(changed, saved);
    processor->takeEvents();
    changes->take();

    processor->setStateInformation(saved.getData(), static_cast<int>(saved.getSize()));
    EXPECT_EQ(processor->takeEvents(), concat({fullReload("eh", "low"), prepareBoth(44100, 1), allSteps()}));
    EXPECT_EQ(changes->take(), 1);
    juce::MemoryBlock restored;
    processor->getStateInformation(restored);
    EXPECT_EQ(restored, saved);
    EXPECT_FLOAT_EQ(processor->getChannel(1).inputGain, 1.5f);
    EXPECT_FALSE(processor->isForceFlagSet());
}

TEST_F(ProcessorEngine, RefusedChunksKeepTheState)
{
    processor->setCurrentProgram(2);
    processor->setParameter(paramGain, 0.25f);
    juce::MemoryBlock before;
    processor->getStateInformation(before);
    processor->takeEvents();
    changes->take();

    const std::string refused[] = {"VC2!", frameChunk("<vrk_velmorant cprog=\"1"),
                                   "XC2!" + frameChunk("<vrk_velmorant/>").substr(4), frameChunk("<other/>")};
    testing::internal::CaptureStderr();
    for (const auto& chunk : refused)
        processor->setStateInformation(chunk.data(), static_cast<int>(chunk.size()));
    processor->setStateInformation(nullptr, 1000);
    testing::internal::GetCapturedStderr();

    juce::MemoryBlock after;
    processor->getStateInformation(after);
    EXPECT_EQ(bytesOf(after), bytesOf(before));
    EXPECT_TRUE(processor->takeEvents().empty());
    EXPECT_EQ(changes->take(), 0);
}

// Chunks that hung the XML reader, overflowed its stack or read past the text's end; each is
// refused with its reason before the reader sees it, and the state stays as it was.
TEST_F(ProcessorEngine, HostileChunksAreRefusedAndKeepTheState)
{
    processor->setParameter(paramGain, 0.25f);
    juce::MemoryBlock before;
    processor->getStateInformation(before);
    processor->takeEvents();
    changes->take();

    const auto files = juce::File(VELMORANT_HOSTILE_CHUNKS_DIR).findChildFiles(juce::File::findFiles, false, "*.chunk");
    ASSERT_GE(files.size(), 6);
    for (const auto& file : files)
    {
        if (file.getFileName() == "huge-exponent.chunk")
            continue;
        juce::MemoryBlock chunk;
        ASSERT_TRUE(file.loadFileAsData(chunk));
        testing::internal::CaptureStderr();
        processor->setStateInformation(chunk.getData(), static_cast<int>(chunk.getSize()));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("ignored a preset chunk"), std::string::npos) << file.getFileName();
        EXPECT_EQ(said.find("()"), std::string::npos) << said;
    }
    juce::MemoryBlock after;
    processor->getStateInformation(after);
    EXPECT_EQ(bytesOf(after), bytesOf(before));
    EXPECT_TRUE(processor->takeEvents().empty());
    EXPECT_EQ(changes->take(), 0);

    // A number past double's range is a number like any other: the gain is clamped to its top.
    juce::MemoryBlock chunk;
    ASSERT_TRUE(juce::File(VELMORANT_HOSTILE_CHUNKS_DIR "/huge-exponent.chunk").loadFileAsData(chunk));
    processor->setStateInformation(chunk.getData(), static_cast<int>(chunk.getSize()));
    EXPECT_EQ(processor->getParameter(paramGain), 1.0f);
}

TEST_F(ProcessorEngine, OutOfRangePresetValuesAreClamped)
{
    const std::string chunk = frameChunk(R"(<vrk_velmorant cprog="0"><programs>)"
                                         R"(<program model="2" ch="-1" out="inf" ovrsmplng="9" stro="nan"/>)"
                                         R"(</programs></vrk_velmorant>)");
    processor->setStateInformation(chunk.data(), static_cast<int>(chunk.size()));
    EXPECT_EQ(processor->getParameterText(paramDualTriodes), "12ax7 RSD-1");
    EXPECT_EQ(processor->getParameterText(paramChannel), "Low");
    EXPECT_EQ(processor->getParameterText(paramOversampling), "x16");
    EXPECT_EQ(processor->getParameter(paramOutput), 1.0f);
    EXPECT_NEAR(processor->getChannel(0).outputGain, 0.0335563, 1e-7);
    EXPECT_EQ(processor->takeEvents(), concat({fullReload("rsd", "low"), prepareBoth(44100, 16), allSteps()}));
}
