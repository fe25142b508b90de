#include "VelmorantPreampAudioProcessor.h"
#include "VelmorantPreampEditor.h"

#include "EngineSettings.h"

#include "AudioThread.h"

#include "DempwolfTriode2.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block1_low.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

#include <cstdio>

namespace
{
using ValveModel = DempwolfTriode2<0>;

constexpr int chainCount = 2;

// What an engine change does (EngineChangeScheduler's change bits). The low byte suspends processing.
enum EngineChange : uint32_t
{
    chooseFactor = 1u << 0,
    chooseStereo = 1u << 1,
    reloadAllStages = 1u << 2,
    reloadInputStage = 1u << 3,
    prepare = 1u << 4,
    suspendingChanges = 0xffu,
    // The pot step of stage k: bit 8 + k.
    allStageSteps = 0xfu << 8,
};

constexpr uint32_t stageStepOf(int stage)
{
    return 1u << (8 + stage);
}

constexpr uint32_t gainStageSteps = stageStepOf(0) | stageStepOf(1) | stageStepOf(2);

// The engine change a stored parameter value makes; 0 for Input, Output and Show settings, which
// touch no engine structure.
uint32_t engineChangeFor(int index)
{
    switch (index)
    {
        case paramDualTriodes:  return reloadAllStages | prepare | allStageSteps;
        case paramChannel:      return reloadInputStage | prepare | stageStepOf(0);
        case paramGain:         return gainStageSteps;
        case paramTreble:
        case paramBass:
        case paramVoice:        return stageStepOf(3);
        case paramOversampling:
        case paramMonoStereo:   return chooseFactor | chooseStereo | prepare;
        default:                return 0;
    }
}

juce::MemoryBlock builtInDefaultChunk()
{
    const auto document = juce::parseXML(PresetDocument::builtInDefaultText());
    juce::MemoryBlock chunk;
    if (document != nullptr)
        PresetDocument::writeElement(*document, chunk);
    return chunk;
}
} // namespace

VelmorantPreampAudioProcessor::VelmorantPreampAudioProcessor() : VelmorantPreampAudioProcessor(juce::String()) {}

VelmorantPreampAudioProcessor::VelmorantPreampAudioProcessor(const juce::String& folder,
                                                             std::unique_ptr<ChainDriver> chainDriver)
    : driver(chainDriver != nullptr ? std::move(chainDriver) : std::make_unique<ChainDriver>()), modelFolder(folder),
      engineChanges(*this, suspendingChanges,
                    [this](uint32_t change, bool whileSuspended) { return applyEngineChange(change, whileSuspended); })
{
    const double hostRate = getSampleRate();
    sampleRate = hostRate >= 1.0 ? static_cast<int>(hostRate) : 44100;
    const auto rate = static_cast<double>(sampleRate.load());
    highInputStageBlock = std::make_unique<Velmorant_preamp_block1_high_Automation<ValveModel, 0>>(rate, 3.0);
    lowInputStageBlock = std::make_unique<Velmorant_preamp_block1_low_Automation<ValveModel, 0>>(rate, 3.0);
    secondStageBlock = std::make_unique<Velmorant_preamp_block2_Automation<ValveModel, 0>>(rate, 336.0);
    thirdStageBlock = std::make_unique<Velmorant_preamp_block3_Automation<ValveModel, 0>>(rate, 355.0);
    toneStageBlock = std::make_unique<Velmorant_preamp_block4_Automation<ValveModel, 0>>(rate, 355.0);
    supplyVoltage = toneStageBlock->getParam(0);

    // The processor is ready when construction ends, whichever thread constructs it.
    const juce::MemoryBlock defaults = builtInDefaultChunk();
    forceFlag = true;
    restoreState(defaults.getData(), static_cast<int>(defaults.getSize()));
}

VelmorantPreampAudioProcessor::~VelmorantPreampAudioProcessor()
{
    // Before the chains, blocks and driver go: the worker may be loading into them.
    engineChanges.stop();
}

const juce::String VelmorantPreampAudioProcessor::getName() const
{
    return "Velmorant Preamp";
}

void VelmorantPreampAudioProcessor::prepareToPlay(double newSampleRate, int)
{
    // A rate the blocks cannot divide by, or absurdly high, keeps the rate in use.
    if (!(newSampleRate >= 1.0 && newSampleRate <= 10.0e6))
        return;
    sampleRate = static_cast<int>(newSampleRate);
    // The circuit must run with coefficients for the host's rate from the first block on, and
    // start where its networks rest at the current settings (a preparation finds that rest; pot
    // steps since the last one moved it), so that playback starts silent even at an unchanged rate.
    // A host starts the plug-in outside its processing calls and processes right after: the
    // preparation is done when this returns, on whichever thread.
    engineChanges.request(prepare | allStageSteps, true);
}

void VelmorantPreampAudioProcessor::releaseResources() {}

void VelmorantPreampAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const int numSamples = buffer.getNumSamples();
    // The host may have changed the channel counts (a speaker arrangement, a new preparation).
    if (getTotalNumInputChannels() != routineInputChannels)
        chooseRoutine();
    (this->*processRoutine)(buffer, numSamples);
    const int lastOutput = juce::jmin(getTotalNumOutputChannels(), buffer.getNumChannels());
    for (int channel = getTotalNumInputChannels(); channel < lastOutput; ++channel)
        buffer.clear(channel, 0, numSamples);
}

void VelmorantPreampAudioProcessor::processMono(juce::AudioBuffer<float>& buffer, int numSamples)
{
    if (buffer.getNumChannels() < 1)
        return;
    chains[0].process(buffer.getWritePointer(0), static_cast<uint32_t>(numSamples));
    copyChannelZeroToOne(buffer, numSamples);
}

void VelmorantPreampAudioProcessor::processMonoOversampled(juce::AudioBuffer<float>& buffer, int numSamples)
{
    if (buffer.getNumChannels() < 1)
        return;
    chains[0].processOversampled(buffer.getWritePointer(0), static_cast<uint32_t>(numSamples));
    copyChannelZeroToOne(buffer, numSamples);
}

void VelmorantPreampAudioProcessor::processStereo(juce::AudioBuffer<float>& buffer, int numSamples)
{
    if (!canProcessStereo(buffer))
        return processMono(buffer, numSamples);
    // Both chains side by side, sample by sample: each gives what its own process would.
    PreampChannel::processPair(chains[0], buffer.getWritePointer(0), chains[1], buffer.getWritePointer(1),
                               static_cast<uint32_t>(numSamples));
}

void VelmorantPreampAudioProcessor::processStereoOversampled(juce::AudioBuffer<float>& buffer, int numSamples)
{
    if (!canProcessStereo(buffer))
        return processMonoOversampled(buffer, numSamples);
    PreampChannel::processPair(chains[0], buffer.getWritePointer(0), chains[1], buffer.getWritePointer(1),
                               static_cast<uint32_t>(numSamples));
}

// Only a buffer that really holds a second input channel is processed as stereo.
bool VelmorantPreampAudioProcessor::canProcessStereo(const juce::AudioBuffer<float>& buffer) const
{
    return buffer.getNumChannels() >= 2 && getTotalNumInputChannels() >= 2;
}

void VelmorantPreampAudioProcessor::copyChannelZeroToOne(juce::AudioBuffer<float>& buffer, int numSamples)
{
    if (getTotalNumInputChannels() >= 2 && buffer.getNumChannels() >= 2 && numSamples > 0)
        buffer.copyFrom(1, 0, buffer, 0, 0, numSamples);
}

const juce::String VelmorantPreampAudioProcessor::getInputChannelName(int channelIndex) const
{
    return juce::String(channelIndex + 1);
}

const juce::String VelmorantPreampAudioProcessor::getOutputChannelName(int channelIndex) const
{
    return juce::String(channelIndex + 1);
}

bool VelmorantPreampAudioProcessor::isInputChannelStereoPair(int) const
{
    return true;
}

bool VelmorantPreampAudioProcessor::isOutputChannelStereoPair(int) const
{
    return true;
}

bool VelmorantPreampAudioProcessor::silenceInProducesSilenceOut() const
{
    return false;
}

double VelmorantPreampAudioProcessor::getTailLengthSeconds() const
{
    return 0.0;
}

bool VelmorantPreampAudioProcessor::acceptsMidi() const
{
    return false;
}

bool VelmorantPreampAudioProcessor::producesMidi() const
{
    return false;
}

juce::AudioProcessorEditor* VelmorantPreampAudioProcessor::createEditor()
{
    return new VelmorantPreampEditor(*this);
}

bool VelmorantPreampAudioProcessor::hasEditor() const
{
    return true;
}

int VelmorantPreampAudioProcessor::getNumParameters()
{
    return preampParameterCount;
}

const juce::String VelmorantPreampAudioProcessor::getParameterName(int index)
{
    return PreampProgram::getParameterName(index);
}

float VelmorantPreampAudioProcessor::getParameter(int index)
{
    const juce::SpinLock::ScopedLockType lock(programLock);
    return programs[static_cast<size_t>(currentProgramIndex)].getParameter(index);
}

const juce::String VelmorantPreampAudioProcessor::getParameterText(int index)
{
    return getCurrentProgramCopy().getParameterText(index);
}

void VelmorantPreampAudioProcessor::setParameter(int index, float newValue)
{
    if (index < 0 || index >= preampParameterCount)
        return;
    bool changed = false;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        changed = programs[static_cast<size_t>(currentProgramIndex)].setParameter(index, newValue);
    }
    if (!changed)
        return;
    forceFlag = false;
    // Gains touch no engine structure: no suspension, and no wait for a reload in progress.
    if (index == paramInput)
        applyInputGain();
    else if (index == paramOutput)
        applyOutputGain();
    requestEngineChange(engineChangeFor(index));
    sendChangeMessage();
}

int VelmorantPreampAudioProcessor::getNumPrograms()
{
    return preampProgramCount;
}

int VelmorantPreampAudioProcessor::getCurrentProgram()
{
    const juce::SpinLock::ScopedLockType lock(programLock);
    return currentProgramIndex;
}

void VelmorantPreampAudioProcessor::setCurrentProgram(int index)
{
    if (index < 0 || index >= preampProgramCount)
        return;
    if (stateLoaded)
        selectProgram(index, forceFlag);
}

void VelmorantPreampAudioProcessor::selectProgram(int index, bool applyEverything)
{
    PreampValues previous, current;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        previousProgramIndex = currentProgramIndex;
        currentProgramIndex = index;
        previous = programs[static_cast<size_t>(previousProgramIndex)].values;
        current = programs[static_cast<size_t>(currentProgramIndex)].values;
    }
    const auto differs = [&](int k) {
        return applyEverything || !(current[static_cast<size_t>(k)] == previous[static_cast<size_t>(k)]);
    };
    bool anyDiffers = false;
    for (int k = 0; k < preampParameterCount; ++k)
        anyDiffers = anyDiffers || differs(k);
    if (!anyDiffers)
        return;

    if (differs(paramInput))
        applyInputGain();
    if (differs(paramOutput))
        applyOutputGain();
    // Every step is set again; the rest suspends processing only where it reloads or prepares.
    uint32_t change = allStageSteps;
    if (differs(paramOversampling))
        change |= chooseFactor;
    if (differs(paramMonoStereo) || differs(paramOversampling))
        change |= chooseStereo;
    if (differs(paramDualTriodes))
        change |= reloadAllStages;
    else if (differs(paramChannel))
        change |= reloadInputStage;
    if (differs(paramDualTriodes) || differs(paramChannel) || differs(paramOversampling) || differs(paramMonoStereo))
        change |= prepare;
    requestEngineChange(change);
    sendChangeMessage();
}

const juce::String VelmorantPreampAudioProcessor::getProgramName(int index)
{
    if (index < 0 || index >= preampProgramCount)
        return {};
    return copyProgram(index).name;
}

void VelmorantPreampAudioProcessor::changeProgramName(int index, const juce::String& newName)
{
    if (index < 0 || index >= preampProgramCount)
        return;
    const juce::SpinLock::ScopedLockType lock(programLock);
    programs[static_cast<size_t>(index)].name = newName;
}

void VelmorantPreampAudioProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    PreampProgramBank bank;
    int current = 0;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        bank = programs;
        current = currentProgramIndex;
    }
    PresetDocument::write(bank, current, destData);
}

void VelmorantPreampAudioProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    restoreState(data, sizeInBytes);
}

void VelmorantPreampAudioProcessor::restoreState(const void* data, int sizeInBytes)
{
    PreampProgramBank bank;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        bank = programs;
    }
    juce::String refusal;
    auto state = PresetDocument::read(data, sizeInBytes, bank, &refusal);
    if (!state)
    {
        std::fprintf(stderr, "Velmorant Preamp: ignored a preset chunk that holds no valid preset document (%s)\n",
                     refusal.toRawUTF8());
        return;
    }
    int index = 0;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        programs = state->programs;
        index = currentProgramIndex;
    }
    stateLoaded = true;
    if (state->currentProgram >= 0 && state->currentProgram < preampProgramCount)
        index = state->currentProgram;
    // The records were rewritten in place, so comparing with the previous record says nothing
    // about what the engine runs with: a restored state always reaches the engine in full.
    selectProgram(index, true);
}

void VelmorantPreampAudioProcessor::requestEngineChange(uint32_t change)
{
    // Hosts deliver automation on the audio thread right before processing; rendering offline has
    // no deadline to miss. Pot steps alone never wait, so only a reload asks which thread this is.
    const bool mayWait = (change & suspendingChanges) != 0
                         && (!velmorant::platform::isAudioThread() || isNonRealtime());
    engineChanges.request(change, mayWait);
}

bool VelmorantPreampAudioProcessor::isParameterUnchanged(int index) const
{
    if (forceFlag || index < 0 || index >= preampParameterCount)
        return false;
    const juce::SpinLock::ScopedLockType lock(programLock);
    const auto k = static_cast<size_t>(index);
    return programs[static_cast<size_t>(currentProgramIndex)].values[k]
           == programs[static_cast<size_t>(previousProgramIndex)].values[k];
}

PreampProgram VelmorantPreampAudioProcessor::getCurrentProgramCopy() const
{
    const juce::SpinLock::ScopedLockType lock(programLock);
    return programs[static_cast<size_t>(currentProgramIndex)];
}

PreampValues VelmorantPreampAudioProcessor::currentSettings() const
{
    const juce::SpinLock::ScopedLockType lock(programLock);
    return programs[static_cast<size_t>(currentProgramIndex)].values;
}

PreampProgram VelmorantPreampAudioProcessor::copyProgram(int index) const
{
    const juce::SpinLock::ScopedLockType lock(programLock);
    return programs[static_cast<size_t>(index)];
}

const PreampChannel& VelmorantPreampAudioProcessor::getChannel(int index) const
{
    return chains[index == 1 ? 1 : 0];
}

void VelmorantPreampAudioProcessor::applyInputGain()
{
    const juce::ScopedLock lock(getCallbackLock());
    const float gain = EngineSettings::inputGain(currentSettings()[paramInput]);
    for (auto& chain : chains)
        chain.inputGain = gain;
}

void VelmorantPreampAudioProcessor::applyOutputGain()
{
    const juce::ScopedLock lock(getCallbackLock());
    const float gain = EngineSettings::outputGain(currentSettings()[paramOutput], supplyVoltage);
    for (auto& chain : chains)
        chain.outputGain = gain;
}

bool VelmorantPreampAudioProcessor::applyEngineChange(uint32_t change, bool whileSuspended)
{
    const PreampValues settings = currentSettings();
    if (!whileSuspended)
    {
        // Pot steps alone take over the matrices and networks of files already loaded, a short
        // piece of work done between two blocks: a block processed while suspended would be silent.
        const juce::ScopedLock lock(getCallbackLock());
        setStageSteps(settings, change);
        return true;
    }
    if ((change & chooseFactor) != 0)
        oversamplingFactor = EngineSettings::oversamplingFactor(settings[paramOversampling]);
    if ((change & (chooseFactor | chooseStereo)) != 0)
    {
        stereoSelected = static_cast<int>(settings[paramMonoStereo]) != 0;
        routineInputChannels = -1;
    }
    if ((change & (reloadAllStages | reloadInputStage)) != 0
        && !reloadStages(settings, currentModelFolder(), (change & reloadAllStages) == 0))
        return false; // the change is pending again, and is redone in full
    if ((change & prepare) != 0)
        prepareChains();
    setStageSteps(settings, change);
    return true;
}

void VelmorantPreampAudioProcessor::chooseRoutine()
{
    routineInputChannels = getTotalNumInputChannels();
    const bool stereo = stereoSelected && routineInputChannels >= 2;
    if (oversamplingFactor == 1)
        processRoutine = stereo ? &VelmorantPreampAudioProcessor::processStereo : &VelmorantPreampAudioProcessor::processMono;
    else
        processRoutine = stereo ? &VelmorantPreampAudioProcessor::processStereoOversampled
                                : &VelmorantPreampAudioProcessor::processMonoOversampled;
}

juce::String VelmorantPreampAudioProcessor::currentModelFolder() const
{
    return modelFolder.isNotEmpty() ? modelFolder : EngineSettings::defaultModelFolder();
}

SSParamsVecAutomation* VelmorantPreampAudioProcessor::blockForStage(const PreampValues& settings, int stage) const
{
    switch (stage)
    {
        case 0:  return settings[paramChannel] == 1.0f ? highInputStageBlock.get() : lowInputStageBlock.get();
        case 1:  return secondStageBlock.get();
        case 2:  return thirdStageBlock.get();
        default: return toneStageBlock.get();
    }
}

bool VelmorantPreampAudioProcessor::reloadStages(const PreampValues& settings, const juce::String& folder,
                                                 bool inputStageOnly)
{
    juce::StringArray failedFiles;
    juce::String firstReason;
    bool superseded = false;
    const auto load = [&](int chain, int stage) {
        const juce::String name = EngineSettings::modelFileName(settings, stage);
        superseded = superseded || engineChanges.isSuperseded();
        if (name.isEmpty() || superseded)
            return;
        const juce::String path = folder + name;
        if (driver->loadStage(chains[chain], chain, stage, blockForStage(settings, stage), path,
                              EngineSettings::isProjectedStage(stage)))
            return;
        if (failedFiles.isEmpty())
            firstReason = chains[chain].lastError();
        failedFiles.addIfNotAlreadyThere(path);
    };

    for (int chain = 0; chain < chainCount; ++chain)
        load(chain, 0);
    for (int chain = 0; !inputStageOnly && chain < chainCount; ++chain)
        for (int stage = 1; stage < EngineSettings::stageCount; ++stage)
            load(chain, stage);

    if (failedFiles.isEmpty() || superseded)
        return !superseded;
    juce::String line = "Velmorant Preamp: ";
    line << (firstReason.contains(failedFiles[0]) ? firstReason : "cannot use model data file " + failedFiles[0] + ": " + firstReason);
    if (failedFiles.size() > 1)
        line << " (and " << (failedFiles.size() - 1) << " more model data files)";
    line << "; the channels without model data output silence";
    std::fprintf(stderr, "%s\n", line.toRawUTF8());
    return true;
}

void VelmorantPreampAudioProcessor::prepareChains()
{
    const int rate = sampleRate;
    for (int chain = 0; chain < chainCount; ++chain)
        driver->prepare(chains[chain], chain, rate, oversamplingFactor);
}

void VelmorantPreampAudioProcessor::setStageSteps(const PreampValues& settings, uint32_t change)
{
    for (int chain = 0; chain < chainCount; ++chain)
        for (int stage = 0; stage < EngineSettings::stageCount; ++stage)
            if ((change & stageStepOf(stage)) != 0)
                driver->setStageStep(chains[chain], chain, stage, EngineSettings::stageStep(settings, stage));
}
