#include "VelmorantPreampAudioProcessor.h"
#include "VelmorantPreampEditor.h"

#include "EngineSettings.h"

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

// Suspends processing for its lifetime and then restores the suspension state it found, so an
// engine change never resumes processing that someone else suspended.
class ScopedSuspension
{
public:
    explicit ScopedSuspension(juce::AudioProcessor& p) : processor(p)
    {
        const juce::ScopedLock lock(processor.getCallbackLock());
        wasSuspended = processor.isSuspended();
        processor.suspendProcessing(true);
    }
    ~ScopedSuspension() { processor.suspendProcessing(wasSuspended); }

    ScopedSuspension(const ScopedSuspension&) = delete;
    ScopedSuspension& operator=(const ScopedSuspension&) = delete;

private:
    juce::AudioProcessor& processor;
    bool wasSuspended = false;
};

bool isGainParameter(int index)
{
    return index == paramInput || index == paramOutput || index == paramShowSettings;
}

bool isPotStepParameter(int index)
{
    return index == paramGain || index == paramTreble || index == paramBass || index == paramVoice;
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

VelmorantPreampAudioProcessor::VelmorantPreampAudioProcessor(const juce::String& folder) : modelFolder(folder)
{
    const double hostRate = getSampleRate();
    sampleRate = hostRate >= 1.0 ? static_cast<int>(hostRate) : 44100;
    const auto rate = static_cast<double>(sampleRate);
    highInputStageBlock = std::make_unique<Velmorant_preamp_block1_high_Automation<ValveModel, 0>>(rate, 3.0);
    lowInputStageBlock = std::make_unique<Velmorant_preamp_block1_low_Automation<ValveModel, 0>>(rate, 3.0);
    secondStageBlock = std::make_unique<Velmorant_preamp_block2_Automation<ValveModel, 0>>(rate, 336.0);
    thirdStageBlock = std::make_unique<Velmorant_preamp_block3_Automation<ValveModel, 0>>(rate, 355.0);
    toneStageBlock = std::make_unique<Velmorant_preamp_block4_Automation<ValveModel, 0>>(rate, 355.0);
    supplyVoltage = toneStageBlock->getParam(0);

    const juce::MemoryBlock defaults = builtInDefaultChunk();
    forceFlag = true;
    setStateInformation(defaults.getData(), static_cast<int>(defaults.getSize()));
}

VelmorantPreampAudioProcessor::~VelmorantPreampAudioProcessor() = default;

const juce::String VelmorantPreampAudioProcessor::getName() const
{
    return "Velmorant Preamp";
}

void VelmorantPreampAudioProcessor::prepareToPlay(double newSampleRate, int)
{
    // A rate the blocks cannot divide by, or absurdly high, keeps the rate in use.
    if (!(newSampleRate >= 1.0 && newSampleRate <= 10.0e6))
        return;
    const juce::ScopedLock engine(engineLock);
    sampleRate = static_cast<int>(newSampleRate);
    // The circuit must run with coefficients for the host's rate from the first block on, and
    // start where its networks rest at the current settings (a preparation finds that rest; pot
    // steps since the last one moved it), so that playback starts silent even at an unchanged rate.
    const PreampProgram program = copyProgram(getCurrentProgram());
    const ScopedSuspension suspension(*this);
    prepareChains();
    setStageSteps(program, 0, EngineSettings::stageCount - 1);
}

void VelmorantPreampAudioProcessor::releaseResources() {}

void VelmorantPreampAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const int numSamples = buffer.getNumSamples();
    // The host may have changed the channel counts (a speaker arrangement, a new preparation).
    if (getTotalNumInputChannels() != routineInputChannels)
        chooseRoutineForChannels();
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
    if (isGainParameter(index))
    {
        // Gains touch no engine structure: no suspension, and no wait for a reload in progress.
        bool changed = false;
        {
            const juce::SpinLock::ScopedLockType lock(programLock);
            changed = programs[static_cast<size_t>(currentProgramIndex)].setParameter(index, newValue);
        }
        if (!changed)
            return;
        forceFlag = false;
        if (index == paramInput)
            applyInputGain();
        else if (index == paramOutput)
            applyOutputGain();
        sendChangeMessage();
        return;
    }

    const juce::ScopedLock engine(engineLock);
    bool changed = false;
    PreampProgram program;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        auto& current = programs[static_cast<size_t>(currentProgramIndex)];
        changed = current.setParameter(index, newValue);
        program = current;
    }
    if (!changed)
        return;
    forceFlag = false;
    applyParameter(index, program);
    sendChangeMessage();
}

void VelmorantPreampAudioProcessor::applyParameter(int index, const PreampProgram& program)
{
    const int lastStage = EngineSettings::stageCount - 1;
    if (isPotStepParameter(index))
    {
        // A pot step takes over the matrices and networks of files already loaded, a short piece
        // of work done between two blocks: a block processed while suspended would be silent.
        const juce::ScopedLock lock(getCallbackLock());
        if (index == paramGain)
            setStageSteps(program, 0, lastStage - 1);
        else
            setStageSteps(program, lastStage, lastStage);
        return;
    }
    const bool reloads = index == paramDualTriodes || index == paramChannel;
    const juce::String folder = reloads ? currentModelFolder() : juce::String();
    const ScopedSuspension suspension(*this);
    switch (index)
    {
        case paramDualTriodes:
            reloadStages(program, folder, false);
            prepareChains();
            setStageSteps(program, 0, lastStage);
            break;
        case paramChannel:
            reloadStages(program, folder, true);
            prepareChains();
            setStageSteps(program, 0, 0);
            break;
        default: // Oversampling, Mono/Stereo
            oversamplingFactor = EngineSettings::oversamplingFactor(program.values[paramOversampling]);
            chooseRoutine(program);
            prepareChains();
            break;
    }
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
    const juce::ScopedLock engine(engineLock);
    if (stateLoaded)
        selectProgram(index, forceFlag);
}

void VelmorantPreampAudioProcessor::selectProgram(int index, bool applyEverything)
{
    PreampProgram previous, current;
    {
        const juce::SpinLock::ScopedLockType lock(programLock);
        previousProgramIndex = currentProgramIndex;
        currentProgramIndex = index;
        previous = programs[static_cast<size_t>(previousProgramIndex)];
        current = programs[static_cast<size_t>(currentProgramIndex)];
    }
    const auto differs = [&](int k) {
        return applyEverything || !(current.values[static_cast<size_t>(k)] == previous.values[static_cast<size_t>(k)]);
    };
    bool anyDiffers = false;
    for (int k = 0; k < preampParameterCount; ++k)
        anyDiffers = anyDiffers || differs(k);
    if (!anyDiffers)
        return;

    const bool reloads = differs(paramDualTriodes) || differs(paramChannel);
    const juce::String folder = reloads ? currentModelFolder() : juce::String();
    {
        const ScopedSuspension suspension(*this);
        if (differs(paramInput))
            applyInputGain();
        if (differs(paramOutput))
            applyOutputGain();
        if (differs(paramOversampling))
            oversamplingFactor = EngineSettings::oversamplingFactor(current.values[paramOversampling]);
        if (differs(paramMonoStereo) || differs(paramOversampling))
            chooseRoutine(current);
        if (reloads)
            reloadStages(current, folder, !differs(paramDualTriodes));
        if (reloads || differs(paramOversampling) || differs(paramMonoStereo))
            prepareChains();
        setStageSteps(current, 0, EngineSettings::stageCount - 1);
    }
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
    const juce::ScopedLock engine(engineLock);
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
    const float gain = EngineSettings::inputGain(getCurrentProgramCopy().values[paramInput]);
    for (auto& chain : chains)
        chain.inputGain = gain;
}

void VelmorantPreampAudioProcessor::applyOutputGain()
{
    const juce::ScopedLock lock(getCallbackLock());
    const float gain = EngineSettings::outputGain(getCurrentProgramCopy().values[paramOutput], supplyVoltage);
    for (auto& chain : chains)
        chain.outputGain = gain;
}

void VelmorantPreampAudioProcessor::chooseRoutine(const PreampProgram& program)
{
    stereoSelected = static_cast<int>(program.values[paramMonoStereo]) != 0;
    chooseRoutineForChannels();
}

void VelmorantPreampAudioProcessor::chooseRoutineForChannels()
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

SSParamsVecAutomation* VelmorantPreampAudioProcessor::blockForStage(const PreampProgram& program, int stage) const
{
    switch (stage)
    {
        case 0:  return program.values[paramChannel] == 1.0f ? highInputStageBlock.get() : lowInputStageBlock.get();
        case 1:  return secondStageBlock.get();
        case 2:  return thirdStageBlock.get();
        default: return toneStageBlock.get();
    }
}

void VelmorantPreampAudioProcessor::reloadStages(const PreampProgram& program, const juce::String& folder,
                                                 bool inputStageOnly)
{
    juce::StringArray failedFiles;
    juce::String firstReason;
    const auto load = [&](int chain, int stage) {
        const juce::String name = EngineSettings::modelFileName(program, stage);
        if (name.isEmpty())
            return;
        const juce::String path = folder + name;
        if (loadChainStage(chain, stage, blockForStage(program, stage), path, EngineSettings::isProjectedStage(stage)))
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

    if (failedFiles.isEmpty())
        return;
    juce::String line = "Velmorant Preamp: ";
    line << (firstReason.contains(failedFiles[0]) ? firstReason : "cannot use model data file " + failedFiles[0] + ": " + firstReason);
    if (failedFiles.size() > 1)
        line << " (and " << (failedFiles.size() - 1) << " more model data files)";
    line << "; the channels without model data output silence";
    std::fprintf(stderr, "%s\n", line.toRawUTF8());
}

void VelmorantPreampAudioProcessor::prepareChains()
{
    for (int chain = 0; chain < chainCount; ++chain)
        prepareChain(chain, sampleRate, oversamplingFactor);
}

void VelmorantPreampAudioProcessor::setStageSteps(const PreampProgram& program, int firstStage, int lastStage)
{
    for (int chain = 0; chain < chainCount; ++chain)
        for (int stage = firstStage; stage <= lastStage; ++stage)
            setChainStageStep(chain, stage, EngineSettings::stageStep(program, stage));
}

bool VelmorantPreampAudioProcessor::loadChainStage(int chain, int stage, SSParamsVecAutomation* block,
                                                   const juce::String& path, bool projected)
{
    return chains[chain].loadStage(static_cast<uint8_t>(stage), block, path.toStdString().c_str(), projected);
}

void VelmorantPreampAudioProcessor::prepareChain(int chain, int baseRate, int factor)
{
    chains[chain].prepare(static_cast<uint32_t>(baseRate), static_cast<uint32_t>(factor));
}

void VelmorantPreampAudioProcessor::setChainStageStep(int chain, int stage, int step)
{
    chains[chain].setStageStep(static_cast<uint8_t>(stage), static_cast<uint32_t>(step));
}
