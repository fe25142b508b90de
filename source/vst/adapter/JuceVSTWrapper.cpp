#include "JuceVSTWrapper.h"

#include "AudioThread.h"
#include "HostText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

// The host reaches the processor through JUCE's legacy parameter and program calls.
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

using velmorant::vst::copyHostText;

namespace {

constexpr const char* kEffectName = "Velmorant Preamp";
constexpr const char* kVendorName = "Dunmarel";
constexpr VstInt32 kVendorVersion = 100;
constexpr int kMaxChannels = 2;
constexpr int kDefaultBlockSize = 1024;
// The work buffer never grows beyond this; longer host blocks are processed in slices.
constexpr int kMaxSliceSize = 8192;
constexpr double kFallbackSampleRate = 44100.0;

struct Capability {
    const char* text;
    VstInt32 answer;
};

constexpr Capability kCapabilities[] = {
    {"receiveVstEvents", -1},   {"receiveVstMidiEvent", -1}, {"receiveVstMidiEvents", -1},
    {"sendVstEvents", -1},      {"sendVstMidiEvent", -1},    {"sendVstMidiEvents", -1},
    {"receiveVstTimeInfo", 1},  {"conformsToWindowRules", 1}, {"bypass", 1},
    {"openCloseAnyThread", -1},
};

// The channel configurations the plug-in accepts, searched from the last to the first.
struct ChannelConfiguration {
    int inputs;
    int outputs;
};
constexpr ChannelConfiguration kChannelConfigurations[] = {{1, 1}, {2, 2}};

int sliceCapacityFor(VstInt32 hostBlockSize) { return std::clamp<int>(hostBlockSize, 1, kMaxSliceSize); }

// Counts a host call under way, so that a close on another thread waits for it to leave.
class ActiveCall {
public:
    explicit ActiveCall(std::atomic<int>& calls) : count(calls) { ++count; }
    ~ActiveCall() { --count; }
    ActiveCall(const ActiveCall&) = delete;
    ActiveCall& operator=(const ActiveCall&) = delete;

private:
    std::atomic<int>& count;
};

// Where the host says its current call comes from, asked only when the processor needs to know.
velmorant::platform::HostThread askHostThread(void* adapter) {
    switch (static_cast<AudioEffectX*>(adapter)->getCurrentProcessLevel()) {
    case kVstProcessLevelRealtime:
    case kVstProcessLevelPrefetch: return velmorant::platform::HostThread::audio;
    case kVstProcessLevelUser:
    case kVstProcessLevelOffline: return velmorant::platform::HostThread::other;
    default: return velmorant::platform::HostThread::unknown;
    }
}

}  // namespace

JuceVSTWrapper::JuceVSTWrapper(audioMasterCallback hostCallback, std::unique_ptr<juce::AudioProcessor> owned)
    : AudioEffectX(hostCallback, owned->getNumPrograms(), owned->getNumParameters()),
      processor(std::move(owned)),
      workBuffer(kMaxChannels, kDefaultBlockSize) {
    processor->setPlayConfigDetails(kMaxChannels, kMaxChannels, kFallbackSampleRate, kDefaultBlockSize);
    processor->setPlayHead(this);
    processor->addListener(this);
    cEffect.version = kVersion;
    setUniqueID(kUniqueId);
    setNumInputs(kMaxChannels);
    setNumOutputs(kMaxChannels);
    isSynth(false);
    setFlag(effFlagsHasEditor, true);
    canProcessReplacing(true);
    noTail(processor->getTailLengthSeconds() <= 0.0);
    setInitialDelay(processor->getLatencySamples());
    programsAreChunks(true);
}

JuceVSTWrapper::~JuceVSTWrapper() {
    shutDown();
#if JUCE_LINUX || JUCE_BSD
    // With the last instance JUCE shuts down when libraryInitialiser goes, deleting its shared
    // objects (the image cache and its timer among them) on the message thread. The shared message
    // thread stops with its last reference, so the host's thread takes its place for that.
    const bool lastInstance = (*messageThread).getReferenceCount() == 1;
    messageThread.reset();
    if (lastInstance) juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
#endif
}

VstIntPtr JuceVSTWrapper::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (opcode == effClose) return AudioEffectX::dispatcher(opcode, index, value, ptr, opt);
    const ActiveCall call(activeCalls);
    if (isShutDown) return 0;
    switch (opcode) {
    case effEditGetRect: return editorGetRect(ptr);
    case effEditOpen: return editorOpen(ptr);
    case effEditClose: {
        velmorant::platform::HostDrivenEvents hostDrivenEventLoop;
        editorClose();
        return 0;
    }
    case effEditIdle: {
        velmorant::platform::HostDrivenEvents hostDrivenEventLoop;
        hostDrivenEventLoop->processPendingEvents();
        return 0;
    }
    default: return AudioEffectX::dispatcher(opcode, index, value, ptr, opt);
    }
}

// ---- Life cycle ----------------------------------------------------------------------------------

void JuceVSTWrapper::open() { setFlag(effFlagsHasEditor, processor->hasEditor()); }

void JuceVSTWrapper::close() { shutDown(); }

void JuceVSTWrapper::shutDown() {
    if (isShutDown.exchange(true)) return;
    // Wait for the calls already under way (processing, parameters, opcodes from the host's other
    // threads); later ones see the flag and only write silence or answer 0.
    while (activeCalls.load() != 0) std::this_thread::yield();
    velmorant::platform::HostDrivenEvents hostDrivenEventLoop;
    editorClose();
    processor->removeListener(this);
    processor->setPlayHead(nullptr);
    processor.reset();
}

void JuceVSTWrapper::resume() {
    double rate = getSampleRate();
    if (!(rate >= 1.0) || !std::isfinite(rate)) rate = kFallbackSampleRate;  // no usable rate from the host
    const int capacity = sliceCapacityFor(getBlockSize());
    {
        const juce::ScopedLock lock(processor->getCallbackLock());
        workBuffer.setSize(kMaxChannels, capacity);
        processor->setPlayConfigDetails(processingInputs, processingOutputs, rate, capacity);
    }
    // Outside the callback lock: the processor takes its own locks to re-prepare its engine.
    processor->prepareToPlay(rate, capacity);
    processLevelPending = true;
    AudioEffectX::resume();
}

void JuceVSTWrapper::suspend() { processor->releaseResources(); }

// ---- Audio ---------------------------------------------------------------------------------------

void JuceVSTWrapper::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    velmorant::platform::markAudioThread();
    if (sampleFrames <= 0 || outputs == nullptr) return;
    const ActiveCall call(activeCalls);
    if (isShutDown) {
        for (int c = 0; c < cEffect.numOutputs; ++c)
            if (outputs[c] != nullptr) std::fill_n(outputs[c], sampleFrames, 0.0f);
    } else {
        if (processLevelPending.exchange(false))
            processor->setNonRealtime(getCurrentProcessLevel() == kVstProcessLevelOffline);
        for (int offset = 0; offset < sampleFrames;) offset += processSlice(inputs, outputs, offset, sampleFrames - offset);
    }
}

// Copies all inputs into the work buffer before any output is written, so a host that hands the
// same memory for inputs and outputs gets correct results. The slice's length comes from the work
// buffer under the same lock that resume() resizes it under, so a host that changes the block size
// while audio runs gets shorter slices, never a write past the buffer. Returns the frames done.
int JuceVSTWrapper::processSlice(float** inputs, float** outputs, int offset, int remaining) {
    const juce::ScopedLock lock(processor->getCallbackLock());
    const int count = std::min(remaining, workBuffer.getNumSamples());
    const int channels = std::max(processingInputs, processingOutputs);
    for (int c = 0; c < channels; ++c) {
        float* destination = workBuffer.getWritePointer(c);
        const float* source = c < processingInputs && inputs != nullptr ? inputs[c] : nullptr;
        for (int i = 0; i < count; ++i) {
            const float sample = source != nullptr ? source[offset + i] : 0.0f;
            destination[i] = std::isfinite(sample) ? sample : 0.0f;  // keep the circuit state finite
        }
    }
    juce::AudioBuffer<float> slice(workBuffer.getArrayOfWritePointers(), channels, count);
    if (processor->isSuspended())
        slice.clear();
    else if (bypassed)
        processor->processBlockBypassed(slice, midiEvents);
    else
        processor->processBlock(slice, midiEvents);
    midiEvents.clear();
    for (int c = 0; c < processingOutputs; ++c)
        if (outputs[c] != nullptr) std::copy_n(slice.getReadPointer(c), count, outputs[c] + offset);
    return count;
}

// ---- Parameters and programs ---------------------------------------------------------------------

void JuceVSTWrapper::setParameter(VstInt32 index, float value) {
    const ActiveCall call(activeCalls);
    const velmorant::platform::HostCall hostCall(askHostThread, this);
    if (!isShutDown && index >= 0 && index < numParams) processor->setParameter(index, value);
}

float JuceVSTWrapper::getParameter(VstInt32 index) {
    const ActiveCall call(activeCalls);
    return !isShutDown && index >= 0 && index < numParams ? processor->getParameter(index) : 0.0f;
}

bool JuceVSTWrapper::canParameterBeAutomated(VstInt32 index) {
    return index >= 0 && index < numParams && processor->isParameterAutomatable(index);
}

void JuceVSTWrapper::getParameterDisplay(VstInt32 index, char* text) {
    if (index >= 0 && index < numParams)
        copyHostText(text, processor->getParameterText(index).toRawUTF8(), velmorant::vst::kParamDisplayBytes);
    else
        copyHostText(text, "", 1);
}

void JuceVSTWrapper::getParameterName(VstInt32 index, char* text) {
    if (index >= 0 && index < numParams)
        copyHostText(text, processor->getParameterName(index).toRawUTF8(), velmorant::vst::kParamNameBytes);
    else
        copyHostText(text, "", 1);
}

VstInt32 JuceVSTWrapper::getProgram() { return processor->getCurrentProgram(); }

void JuceVSTWrapper::setProgram(VstInt32 program) {
    const velmorant::platform::HostCall hostCall(askHostThread, this);
    processor->setCurrentProgram(program);
}

void JuceVSTWrapper::setProgramName(char* name) {
    if (name == nullptr) return;
    // A host's program name buffer holds 24 bytes: read no further.
    const std::string text = velmorant::vst::readHostText(name, velmorant::vst::kProgramNameBytes);
    processor->changeProgramName(processor->getCurrentProgram(), juce::String::fromUTF8(text.c_str()));
}

void JuceVSTWrapper::getProgramName(char* name) {
    copyHostText(name, processor->getProgramName(processor->getCurrentProgram()).toRawUTF8(),
                 velmorant::vst::kProgramNameBytes);
}

bool JuceVSTWrapper::getProgramNameIndexed(VstInt32, VstInt32 index, char* text) {
    if (index < 0 || index >= numPrograms || text == nullptr) return false;
    copyHostText(text, processor->getProgramName(index).toRawUTF8(), velmorant::vst::kProgramNameBytes);
    return true;
}

void JuceVSTWrapper::audioProcessorParameterChanged(juce::AudioProcessor*, int index, float newValue) {
    callHost(audioMasterAutomate, index, 0, nullptr, newValue);
}

// ---- State ---------------------------------------------------------------------------------------

VstInt32 JuceVSTWrapper::getChunk(void** data, bool isPreset) {
    if (data == nullptr) return 0;
    chunkMemory.reset();
    if (isPreset)
        processor->getCurrentProgramStateInformation(chunkMemory);
    else
        processor->getStateInformation(chunkMemory);
    *data = chunkMemory.getData();
    return static_cast<VstInt32>(std::min<size_t>(chunkMemory.getSize(), 0x7FFFFFFF));
}

VstInt32 JuceVSTWrapper::setChunk(void* data, VstInt32 byteSize, bool isPreset) {
    if (data == nullptr || byteSize <= 0) return 0;
    const velmorant::platform::HostCall hostCall(askHostThread, this);
    if (isPreset)
        processor->setCurrentProgramStateInformation(data, byteSize);
    else
        processor->setStateInformation(data, byteSize);
    return 0;
}

// ---- Channels ------------------------------------------------------------------------------------

bool JuceVSTWrapper::fillPinProperties(bool isInput, VstInt32 index, VstPinProperties* properties) {
    if (properties == nullptr || index < 0 || index >= kMaxChannels) return false;
    const juce::String name = isInput ? processor->getInputChannelName(index) : processor->getOutputChannelName(index);
    const PinState& pins = isInput ? inputPins : outputPins;
    std::memset(properties->label, 0, sizeof properties->label);
    std::memset(properties->shortLabel, 0, sizeof properties->shortLabel);
    copyHostText(properties->label, name.toRawUTF8(), velmorant::vst::kPinLabelBytes);
    copyHostText(properties->shortLabel, name.toRawUTF8(), velmorant::vst::kPinShortLabelBytes);
    if (pins.speakerArrangementSet) {
        properties->flags = kVstPinUseSpeaker;
        properties->arrangementType = pins.arrangementType;
    } else {
        const bool stereo = isInput ? processor->isInputChannelStereoPair(index)
                                    : processor->isOutputChannelStereoPair(index);
        properties->flags = kVstPinIsActive | (stereo ? kVstPinIsStereo : 0);
        properties->arrangementType = 0;
    }
    return true;
}

bool JuceVSTWrapper::getInputProperties(VstInt32 index, VstPinProperties* properties) {
    return fillPinProperties(true, index, properties);
}

bool JuceVSTWrapper::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
    return fillPinProperties(false, index, properties);
}

bool JuceVSTWrapper::setSpeakerArrangement(VstSpeakerArrangement* pluginInput, VstSpeakerArrangement* pluginOutput) {
    if (pluginInput == nullptr || pluginOutput == nullptr) return false;
    for (auto it = std::rbegin(kChannelConfigurations); it != std::rend(kChannelConfigurations); ++it) {
        if (it->inputs != pluginInput->numChannels || it->outputs != pluginOutput->numChannels) continue;
        inputPins = {true, pluginInput->type};
        outputPins = {true, pluginOutput->type};
        applyChannelCounts(it->inputs, it->outputs);
        return true;
    }
    return false;
}

void JuceVSTWrapper::applyChannelCounts(int inputs, int outputs) {
    const juce::ScopedLock lock(processor->getCallbackLock());
    processingInputs = inputs;
    processingOutputs = outputs;
    processor->setPlayConfigDetails(inputs, outputs, processor->getSampleRate() > 0 ? processor->getSampleRate()
                                                                                      : kFallbackSampleRate,
                                    workBuffer.getNumSamples());
}

bool JuceVSTWrapper::setBypass(bool onOff) {
    bypassed = onOff;
    return true;
}

// ---- Identity ------------------------------------------------------------------------------------

bool JuceVSTWrapper::getEffectName(char* name) {
    copyHostText(name, kEffectName, velmorant::vst::kNameBytes);
    return true;
}

bool JuceVSTWrapper::getVendorString(char* text) {
    copyHostText(text, kVendorName, velmorant::vst::kNameBytes);
    return true;
}

bool JuceVSTWrapper::getProductString(char* text) {
    copyHostText(text, kEffectName, velmorant::vst::kNameBytes);
    return true;
}

VstInt32 JuceVSTWrapper::getVendorVersion() { return kVendorVersion; }

VstInt32 JuceVSTWrapper::canDo(char* text) {
    if (text == nullptr) return 0;
    for (const Capability& capability : kCapabilities)
        if (std::strcmp(text, capability.text) == 0) return capability.answer;
    return 0;
}

VstInt32 JuceVSTWrapper::getGetTailSize() {
    const double samples = static_cast<double>(getSampleRate()) * processor->getTailLengthSeconds();
    return samples > 0.0 && samples < 2147483647.0 ? static_cast<VstInt32>(samples) : 0;
}

VstInt32 JuceVSTWrapper::getPlugCategory() { return kPlugCategEffect; }

// ---- Transport -----------------------------------------------------------------------------------

juce::Optional<juce::AudioPlayHead::PositionInfo> JuceVSTWrapper::getPosition() const {
    // Asking the host is a request, not a change of the adapter's state.
    const VstTimeInfo* info =
        const_cast<JuceVSTWrapper*>(this)->getTimeInfo(kVstTempoValid | kVstTimeSigValid | kVstPpqPosValid);
    if (info == nullptr) return {};
    PositionInfo position;
    position.setTimeInSamples(static_cast<int64_t>(info->samplePos));
    position.setTimeInSeconds(info->sampleRate > 0.0 ? info->samplePos / info->sampleRate : 0.0);
    position.setIsPlaying((info->flags & kVstTransportPlaying) != 0);
    position.setIsRecording((info->flags & kVstTransportRecording) != 0);
    if ((info->flags & kVstTempoValid) != 0) position.setBpm(info->tempo);
    if ((info->flags & kVstPpqPosValid) != 0) position.setPpqPosition(info->ppqPos);
    if ((info->flags & kVstTimeSigValid) != 0)
        position.setTimeSignature(juce::AudioPlayHead::TimeSignature{info->timeSigNumerator, info->timeSigDenominator});
    return position;
}

// ---- Editor --------------------------------------------------------------------------------------

bool JuceVSTWrapper::createEditorIfNeeded() {
    if (editorComponent == nullptr && processor->hasEditor())
        editorComponent.reset(processor->createEditorIfNeeded());
    return editorComponent != nullptr;
}

VstIntPtr JuceVSTWrapper::editorGetRect(void* ptr) {
    if (ptr == nullptr) return 0;
    velmorant::platform::HostDrivenEvents hostDrivenEventLoop;
    if (!createEditorIfNeeded()) return 0;
    editorRect = {0, 0, static_cast<VstInt16>(editorComponent->getHeight()),
                  static_cast<VstInt16>(editorComponent->getWidth())};
    *static_cast<ERect**>(ptr) = &editorRect;
    return 1;
}

VstIntPtr JuceVSTWrapper::editorOpen(void* parentWindow) {
    if (parentWindow == nullptr) return 0;
    velmorant::platform::HostDrivenEvents hostDrivenEventLoop;
    if (!velmorant::platform::hasDesktop() || !createEditorIfNeeded()) return 0;
    editorComponent->setOpaque(true);
    editorComponent->setVisible(true);
    editorComponent->addToDesktop(0, parentWindow);
    if (editorComponent->getPeer() == nullptr) {
        editorClose();
        return 0;
    }
    editorRepaints.emplace(*editorComponent);
    return 1;
}

void JuceVSTWrapper::editorClose() {
    if (editorComponent == nullptr) return;
    editorRepaints.reset();
    processor->editorBeingDeleted(editorComponent.get());
    editorComponent.reset();
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
