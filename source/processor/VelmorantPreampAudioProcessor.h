#pragma once

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
// prepares or steps the chains runs under engineLock, so changes from the host and from the editor
// never interleave; processing is suspended from the first engine change to the last, except for a
// pot step (Gain, Treble, Bass, Voice), which steps the chains under the callback lock between two
// blocks so that turning a knob never silences a block. The audio thread never takes engineLock. Program records are guarded by a short spin lock and the
// gains are written under the callback lock, so queries and gain changes never wait for a reload.
class VelmorantPreampAudioProcessor : public juce::AudioProcessor, public juce::ChangeBroadcaster
{
public:
    // Model data from the folder beside the plug-in's own module file.
    VelmorantPreampAudioProcessor();
    // Model data from the given folder (its text ends in a separator).
    explicit VelmorantPreampAudioProcessor(const juce::String& modelFolder);
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

protected:
    // Every engine change goes through these three, in the order the chains require
    // (loads, then preparation, then steps); a subclass may observe them.
    virtual bool loadChainStage(int chain, int stage, SSParamsVecAutomation* block, const juce::String& path,
                                bool projected);
    virtual void prepareChain(int chain, int baseRate, int factor);
    virtual void setChainStageStep(int chain, int stage, int step);

private:
    using ProcessRoutine = void (VelmorantPreampAudioProcessor::*)(juce::AudioBuffer<float>&, int);

    void processMono(juce::AudioBuffer<float>& buffer, int numSamples);
    void processMonoOversampled(juce::AudioBuffer<float>& buffer, int numSamples);
    void processStereo(juce::AudioBuffer<float>& buffer, int numSamples);
    void processStereoOversampled(juce::AudioBuffer<float>& buffer, int numSamples);
    void copyChannelZeroToOne(juce::AudioBuffer<float>& buffer, int numSamples);
    bool canProcessStereo(const juce::AudioBuffer<float>& buffer) const;

    void applyParameter(int index, const PreampProgram& program);
    void selectProgram(int index, bool applyEverything);

    void applyInputGain();
    void applyOutputGain();
    // Records the program's Mono/Stereo choice and chooses the routine for it.
    void chooseRoutine(const PreampProgram& program);
    // The routine for the Mono/Stereo choice and factor last applied and the host's current input
    // channel count.
    void chooseRoutineForChannels();
    juce::String currentModelFolder() const;
    void reloadStages(const PreampProgram& program, const juce::String& folder, bool inputStageOnly);
    void prepareChains();
    void setStageSteps(const PreampProgram& program, int firstStage, int lastStage);
    SSParamsVecAutomation* blockForStage(const PreampProgram& program, int stage) const;

    PreampProgram copyProgram(int index) const;

    PreampProgramBank programs;
    int currentProgramIndex = 0;
    int previousProgramIndex = 0;
    std::atomic<bool> forceFlag{false};

    std::unique_ptr<SSParamsVecAutomation> secondStageBlock, thirdStageBlock, toneStageBlock;
    std::unique_ptr<SSParamsVecAutomation> highInputStageBlock, lowInputStageBlock;
    double supplyVoltage = 0.0; // the tone stage's plate supply, the output gain's divisor
    PreampChannel chains[2];

    int sampleRate = 44100;
    int oversamplingFactor = 1;
    bool stereoSelected = false;
    std::atomic<bool> stateLoaded{false};
    // Chosen again whenever the input channel count differs from the one it was chosen for (-1: to
    // be chosen).
    ProcessRoutine processRoutine = &VelmorantPreampAudioProcessor::processMono;
    int routineInputChannels = -1;

    const juce::String modelFolder; // empty: beside the module file, looked up at every reload
    juce::CriticalSection engineLock;
    mutable juce::SpinLock programLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(VelmorantPreampAudioProcessor)
};
