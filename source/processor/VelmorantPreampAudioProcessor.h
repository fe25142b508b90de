#pragma once

#include "ChainDriver.h"
#include "EngineChangeScheduler.h"
#include "PreampProgram.h"
#include "PresetDocument.h"

#include "PreampChannel.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <memory>

class SSParamsVecAutomation;

// The preamp as the host sees it: eleven parameters in twelve programs, the preset document as its
// state, and two preamp chains (one per audio channel) sharing five circuit blocks.
//
// Threads: the host's audio thread calls processBlock under the callback lock (held by the
// plug-in adapter, which outputs silence while processing is suspended). Every change that reloads,
// prepares or steps the chains goes through the engine change scheduler, so changes from the host
// and from the editor never interleave. A valve, channel, oversampling or mono/stereo change, a
// program switch that makes one and a start suspend processing until the chains are ready again; a
// pot step (Gain, Treble, Bass, Voice) steps the chains under the callback lock between two blocks,
// so that turning a knob never silences a block. The audio thread never waits for a reload: what it
// asks for that reads model files or prepares the chains runs on the scheduler's worker, and its pot
// steps that arrive meanwhile follow the reload. Another thread waits for its own change only, never
// for the changes that keep arriving after it. Program records are guarded by a short spin lock, the
// gains are written under the callback lock, and the audio thread copies settings without names, so
// queries and gain changes never wait for a reload and the audio thread frees no memory.
class VelmorantPreampAudioProcessor : public juce::AudioProcessor, public juce::ChangeBroadcaster
{
public:
    // Model data from the folder beside the plug-in's own module file.
    VelmorantPreampAudioProcessor();
    // Model data from the given folder (its text ends in a separator); engine changes reach the
    // chains through the given driver (a plain one when null).
    explicit VelmorantPreampAudioProcessor(const juce::String& modelFolder, std::unique_ptr<ChainDriver> driver = {});
    // Waits for a change under way on the worker, which stops at its next model file.
    ~VelmorantPreampAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    const juce::String getInputChannelName(int channelIndex) const override;
    const juce::String getOutputChannelName(int channelIndex) const override;
    bool isInputChannelStereoPair(int index) const override;
    bool isOutputChannelStereoPair(int index) const override;
    bool silenceInProducesSilenceOut() const override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumParameters() override;
    const juce::String getParameterName(int index) override;
    using juce::AudioProcessor::getParameterName;
    float getParameter(int index) override;
    const juce::String getParameterText(int index) override;
    using juce::AudioProcessor::getParameterText;
    void setParameter(int index, float newValue) override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int index, const juce::String& newName) override;

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    // True when value k is the same in the current and the previously selected program; false for
    // every k while the force flag is set.
    bool isParameterUnchanged(int index) const;

    // A copy of the current program, for the editor's refresh.
    PreampProgram getCurrentProgramCopy() const;
    // Chain 0 or 1; the editor reads their level statistics under the callback lock.
    const PreampChannel& getChannel(int index) const;

    bool isForceFlagSet() const { return forceFlag.load(); }
    bool isStateLoaded() const { return stateLoaded.load(); }

private:
    using ProcessRoutine = void (VelmorantPreampAudioProcessor::*)(juce::AudioBuffer<float>&, int);

    void processMono(juce::AudioBuffer<float>& buffer, int numSamples);
    void processMonoOversampled(juce::AudioBuffer<float>& buffer, int numSamples);
    void processStereo(juce::AudioBuffer<float>& buffer, int numSamples);
    void processStereoOversampled(juce::AudioBuffer<float>& buffer, int numSamples);
    void copyChannelZeroToOne(juce::AudioBuffer<float>& buffer, int numSamples);
    bool canProcessStereo(const juce::AudioBuffer<float>& buffer) const;

    void selectProgram(int index, bool applyEverything);
    void restoreState(const void* data, int sizeInBytes);
    // Asks for an engine change; the caller waits for a reload unless it is the audio thread
    // rendering in real time.
    void requestEngineChange(uint32_t change);

    void applyInputGain();
    void applyOutputGain();
    // Applies an engine change (bits of the scheduler's change set) with the current program's
    // settings; false when a newer change superseded it before it finished.
    bool applyEngineChange(uint32_t change, bool whileSuspended);
    // The routine for the Mono/Stereo and Oversampling settings last applied and the host's
    // current input channel count.
    void chooseRoutine();
    juce::String currentModelFolder() const;
    // False when a newer change superseded the reload before it finished.
    bool reloadStages(const PreampValues& settings, const juce::String& folder, bool inputStageOnly);
    void prepareChains();
    void setStageSteps(const PreampValues& settings, uint32_t change);
    SSParamsVecAutomation* blockForStage(const PreampValues& settings, int stage) const;

    PreampProgram copyProgram(int index) const;
    // The values alone: copying the name could leave its last reference, and its release, to the
    // audio thread.
    PreampValues currentSettings() const;

    PreampProgramBank programs;
    int currentProgramIndex = 0;
    int previousProgramIndex = 0;
    std::atomic<bool> forceFlag{false};

    std::unique_ptr<SSParamsVecAutomation> secondStageBlock, thirdStageBlock, toneStageBlock;
    std::unique_ptr<SSParamsVecAutomation> highInputStageBlock, lowInputStageBlock;
    double supplyVoltage = 0.0; // the tone stage's plate supply, the output gain's divisor
    PreampChannel chains[2];
    const std::unique_ptr<ChainDriver> driver;

    std::atomic<int> sampleRate{44100}; // the host's, taken up by the next preparation
    // Written by engine changes while processing is suspended, read by the audio thread.
    int oversamplingFactor = 1;
    bool stereoSelected = false;
    std::atomic<bool> stateLoaded{false};
    // The audio thread's: chosen again whenever the input channel count differs from the one it was
    // chosen for (-1: to be chosen).
    ProcessRoutine processRoutine = &VelmorantPreampAudioProcessor::processMono;
    int routineInputChannels = -1;

    const juce::String modelFolder; // empty: beside the module file
    mutable juce::SpinLock programLock;
    EngineChangeScheduler engineChanges;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(VelmorantPreampAudioProcessor)
};
