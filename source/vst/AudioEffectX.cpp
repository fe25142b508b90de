#include "AudioEffectX.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace
{
VstIntPtr fromBool(bool answer)
{
    return answer ? 1 : 0;
}

// Opcodes whose ptr argument is a text, buffer or record the operation must be able to use; a host
// that passes null gets 0 and nothing is called.
bool needsPointer(VstInt32 opcode)
{
    switch (opcode)
    {
    case effProcessEvents:
    case effString2Parameter:
    case effGetProgramNameIndexed:
    case effGetInputProperties:
    case effGetOutputProperties:
    case effOfflineNotify:
    case effOfflinePrepare:
    case effOfflineRun:
    case effProcessVarIo:
    case effSetSpeakerArrangement:
    case effGetEffectName:
    case effGetVendorString:
    case effGetProductString:
    case effCanDo:
    case effGetParameterProperties:
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram:
    case effGetMidiProgramCategory:
    case effGetMidiKeyName:
    case effGetSpeakerArrangement:
    case effShellGetNextPlugin:
    case effBeginLoadBank:
    case effBeginLoadProgram:
        return true;
    default:
        return false;
    }
}

// The low byte of opt truncated toward zero; 0 where the truncation has no int32 value.
unsigned char lowByteOfTruncated(float opt)
{
    const double truncated = std::trunc(static_cast<double>(opt));
    if (!(truncated >= std::numeric_limits<VstInt32>::min() && truncated <= std::numeric_limits<VstInt32>::max()))
        return 0;
    return static_cast<unsigned char>(static_cast<VstInt32>(truncated) & 0xFF);
}

// Largest channel count whose block size, 8 + 112 x channels bytes, fits in an int32.
constexpr VstInt32 kMaxArrangementChannels =
    static_cast<VstInt32>((std::numeric_limits<VstInt32>::max() - kVstSpeakerArrangementHeaderBytes) /
                          sizeof(VstSpeakerProperties));
} // namespace

AudioEffectX::AudioEffectX(audioMasterCallback audioMasterCallbackIn, VstInt32 programCount, VstInt32 paramCount)
    : AudioEffect(audioMasterCallbackIn, programCount, paramCount)
{
}

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (opcode < effProcessEvents || opcode > effGetNumMidiOutputChannels)
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    if (ptr == nullptr && needsPointer(opcode))
        return 0;
    return dispatchExtended(opcode, index, value, ptr, opt);
}

VstIntPtr AudioEffectX::dispatchExtended(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    const auto valueAsInt = static_cast<VstInt32>(value);
    switch (opcode)
    {
    case effProcessEvents:
        return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated:
        return fromBool(canParameterBeAutomated(index));
    case effString2Parameter:
        return fromBool(string2parameter(index, static_cast<char*>(ptr)));
    case effGetProgramNameIndexed:
        return fromBool(getProgramNameIndexed(valueAsInt, index, static_cast<char*>(ptr)));
    case effGetInputProperties:
        return fromBool(getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case effGetOutputProperties:
        return fromBool(getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case effGetPlugCategory:
        return getPlugCategory();
    case effOfflineNotify:
        return fromBool(offlineNotify(static_cast<VstAudioFile*>(ptr), valueAsInt, index != 0));
    case effOfflinePrepare:
        return fromBool(offlinePrepare(static_cast<VstOfflineTask*>(ptr), valueAsInt));
    case effOfflineRun:
        return fromBool(offlineRun(static_cast<VstOfflineTask*>(ptr), valueAsInt));
    case effProcessVarIo:
        return fromBool(processVariableIo(static_cast<VstVariableIo*>(ptr)));
    case effSetSpeakerArrangement:
        if (value == 0)
            return 0;
        return fromBool(setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                              static_cast<VstSpeakerArrangement*>(ptr)));
    case effSetBypass:
        return fromBool(setBypass(value != 0));
    case effGetEffectName:
        return fromBool(getEffectName(static_cast<char*>(ptr)));
    case effGetVendorString:
        return fromBool(getVendorString(static_cast<char*>(ptr)));
    case effGetProductString:
        return fromBool(getProductString(static_cast<char*>(ptr)));
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        return canDo(static_cast<char*>(ptr));
    case effGetTailSize:
        return getGetTailSize();
    case effGetParameterProperties:
        return fromBool(getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)));
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp:
        return dispatchEditorKey(opcode, index, value, opt);
    case effSetEditKnobMode:
        return editor != nullptr ? fromBool(editor->setKnobMode(valueAsInt)) : 0;
    case effGetMidiProgramName:
        return getMidiProgramName(index, static_cast<MidiProgramName*>(ptr));
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr));
    case effGetMidiProgramCategory:
        return getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr));
    case effHasMidiProgramsChanged:
        return fromBool(hasMidiProgramsChanged(index));
    case effGetMidiKeyName:
        return fromBool(getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)));
    case effBeginSetProgram:
        return fromBool(beginSetProgram());
    case effEndSetProgram:
        return fromBool(endSetProgram());
    case effGetSpeakerArrangement:
        if (value == 0)
            return 0;
        return fromBool(getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                                              static_cast<VstSpeakerArrangement**>(ptr)));
    case effShellGetNextPlugin:
        return getNextShellPlugin(static_cast<char*>(ptr));
    case effStartProcess:
        return startProcess();
    case effStopProcess:
        return stopProcess();
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(valueAsInt);
    case effSetPanLaw:
        return fromBool(setPanLaw(valueAsInt, opt));
    case effBeginLoadBank:
        return beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr));
    case effBeginLoadProgram:
        return beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr));
    case effSetProcessPrecision:
        return fromBool(setProcessPrecision(valueAsInt));
    case effGetNumMidiInputChannels:
        return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels:
        return getNumMidiOutputChannels();
    default: // the deprecated opcodes of this range answer 0 in the base
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

VstIntPtr AudioEffectX::dispatchEditorKey(VstInt32 opcode, VstInt32 index, VstIntPtr value, float opt)
{
    if (editor == nullptr)
        return 0;
    VstKeyCode key{};
    key.character = index;
    key.virt = static_cast<unsigned char>(value & 0xFF);
    key.modifier = lowByteOfTruncated(opt);
    return fromBool(opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key));
}

void AudioEffectX::resume()
{
    char midiEventQuery[] = "receiveVstMidiEvent"; // canDo takes a writable text
    if ((cEffect.flags & effFlagsIsSynth) != 0 || canDo(midiEventQuery) == 1)
        wantEvents(1);
}

bool AudioEffectX::askHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    return callHost(opcode, index, value, ptr, opt) != 0;
}

bool AudioEffectX::askHostWith(VstInt32 opcode, void* required)
{
    return required != nullptr && askHost(opcode, 0, 0, required);
}

bool AudioEffectX::beginEdit(VstInt32 index)
{
    return askHost(audioMasterBeginEdit, index);
}

bool AudioEffectX::endEdit(VstInt32 index)
{
    return askHost(audioMasterEndEdit, index);
}

bool AudioEffectX::ioChanged()
{
    return askHost(audioMasterIOChanged);
}

double AudioEffectX::updateSampleRate()
{
    const VstIntPtr answer = callHost(audioMasterGetSampleRate);
    if (answer > 0)
        sampleRate = static_cast<float>(answer);
    return static_cast<double>(sampleRate);
}

VstInt32 AudioEffectX::updateBlockSize()
{
    const auto answer = static_cast<VstInt32>(callHost(audioMasterGetBlockSize));
    if (answer > 0)
        blockSize = answer;
    return blockSize;
}

VstInt32 AudioEffectX::getInputLatency()
{
    return static_cast<VstInt32>(callHost(audioMasterGetInputLatency));
}

VstInt32 AudioEffectX::getOutputLatency()
{
    return static_cast<VstInt32>(callHost(audioMasterGetOutputLatency));
}

bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** pluginInput, VstSpeakerArrangement** pluginOutput)
{
    if (pluginInput != nullptr)
        *pluginInput = nullptr;
    if (pluginOutput != nullptr)
        *pluginOutput = nullptr;
    return false;
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter)
{
    return reinterpret_cast<VstTimeInfo*>(callHost(audioMasterGetTime, 0, filter));
}

VstInt32 AudioEffectX::getCurrentProcessLevel()
{
    return static_cast<VstInt32>(callHost(audioMasterGetCurrentProcessLevel));
}

VstInt32 AudioEffectX::getAutomationState()
{
    return static_cast<VstInt32>(callHost(audioMasterGetAutomationState));
}

bool AudioEffectX::getHostVendorString(char* text)
{
    return askHostWith(audioMasterGetVendorString, text);
}

bool AudioEffectX::getHostProductString(char* text)
{
    return askHostWith(audioMasterGetProductString, text);
}

VstInt32 AudioEffectX::getHostVendorVersion()
{
    return static_cast<VstInt32>(callHost(audioMasterGetVendorVersion));
}

VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 arg1, VstIntPtr arg2, void* ptrArg, float floatArg)
{
    return callHost(audioMasterVendorSpecific, arg1, arg2, ptrArg, floatArg);
}

VstInt32 AudioEffectX::canHostDo(char* text)
{
    return askHostWith(audioMasterCanDo, text) ? 1 : 0;
}

VstInt32 AudioEffectX::getHostLanguage()
{
    return static_cast<VstInt32>(callHost(audioMasterGetLanguage));
}

void* AudioEffectX::getDirectory()
{
    return reinterpret_cast<void*>(callHost(audioMasterGetDirectory));
}

bool AudioEffectX::updateDisplay()
{
    return askHost(audioMasterUpdateDisplay);
}

bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height)
{
    return askHost(audioMasterSizeWindow, width, height);
}

bool AudioEffectX::openFileSelector(VstFileSelect* select)
{
    return askHostWith(audioMasterOpenFileSelector, select);
}

bool AudioEffectX::closeFileSelector(VstFileSelect* select)
{
    return askHostWith(audioMasterCloseFileSelector, select);
}

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels)
{
    if (arrangement == nullptr || nbChannels < 0 || nbChannels > kMaxArrangementChannels)
        return false;
    if (*arrangement != nullptr)
    {
        std::free(*arrangement);
        *arrangement = nullptr;
    }
    const std::size_t bytes =
        kVstSpeakerArrangementHeaderBytes + sizeof(VstSpeakerProperties) * static_cast<std::size_t>(nbChannels);
    auto* block = static_cast<VstSpeakerArrangement*>(std::calloc(1, bytes));
    if (block == nullptr)
        return false;
    block->numChannels = nbChannels;
    *arrangement = block;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement)
{
    if (arrangement != nullptr && *arrangement != nullptr)
    {
        std::free(*arrangement);
        *arrangement = nullptr;
    }
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from)
{
    if (to == nullptr || from == nullptr)
        return false;
    std::strncpy(to->name, from->name, sizeof(to->name) - 1);
    to->name[sizeof(to->name) - 1] = '\0';
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memcpy(to->future, from->future, sizeof(to->future));
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from)
{
    if (from == nullptr || to == nullptr)
        return false;
    if (!deallocateArrangement(to) || !allocateArrangement(to, from->numChannels))
        return false;
    (*to)->type = from->type;
    for (VstInt32 i = 0; i < (*to)->numChannels; ++i)
    {
        if (!copySpeaker(vstSpeakerAt(*to, i), vstSpeakerAt(from, i)))
            return false;
    }
    return true;
}

bool AudioEffectX::offlineRead(VstOfflineTask* offline, VstInt32 option, bool readSource)
{
    return askHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline);
}

bool AudioEffectX::offlineWrite(VstOfflineTask* offline, VstInt32 option)
{
    return askHost(audioMasterOfflineWrite, 0, option, offline);
}

bool AudioEffectX::offlineStart(VstAudioFile* files, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles)
{
    return askHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, files);
}

VstInt32 AudioEffectX::offlineGetCurrentPass()
{
    return askHost(audioMasterOfflineGetCurrentPass) ? 1 : 0;
}

VstInt32 AudioEffectX::offlineGetCurrentMetaPass()
{
    return askHost(audioMasterOfflineGetCurrentMetaPass) ? 1 : 0;
}

void AudioEffectX::wantEvents(VstInt32 filter)
{
    callHost(audioMasterWantMidi, 0, filter);
}

VstInt32 AudioEffectX::tempoAt(VstInt32 pos)
{
    return static_cast<VstInt32>(callHost(audioMasterTempoAt, 0, pos));
}

VstInt32 AudioEffectX::getNumAutomatableParameters()
{
    return static_cast<VstInt32>(callHost(audioMasterGetNumAutomatableParameters));
}

VstInt32 AudioEffectX::getParameterQuantization()
{
    return static_cast<VstInt32>(callHost(audioMasterGetParameterQuantization));
}

bool AudioEffectX::needIdle()
{
    return askHost(audioMasterNeedIdle);
}

AEffect* AudioEffectX::getPreviousPlug(VstInt32 /*input*/)
{
    return reinterpret_cast<AEffect*>(callHost(audioMasterGetPreviousPlug));
}

AEffect* AudioEffectX::getNextPlug(VstInt32 /*output*/)
{
    return reinterpret_cast<AEffect*>(callHost(audioMasterGetNextPlug));
}

VstInt32 AudioEffectX::willProcessReplacing()
{
    return static_cast<VstInt32>(callHost(audioMasterWillReplaceOrAccumulate));
}

void AudioEffectX::setOutputSamplerate(float samplerate)
{
    callHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, samplerate);
}

VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement()
{
    return reinterpret_cast<VstSpeakerArrangement*>(callHost(audioMasterGetInputSpeakerArrangement));
}

VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement()
{
    return reinterpret_cast<VstSpeakerArrangement*>(callHost(audioMasterGetOutputSpeakerArrangement));
}

void* AudioEffectX::openWindow(void* window)
{
    return reinterpret_cast<void*>(callHost(audioMasterOpenWindow, 0, 0, window));
}

bool AudioEffectX::closeWindow(void* window)
{
    return askHost(audioMasterCloseWindow, 0, 0, window);
}

void AudioEffectX::setBlockSizeAndSampleRate(VstInt32 newBlockSize, float newSampleRate)
{
    blockSize = newBlockSize;
    sampleRate = newSampleRate;
}

bool AudioEffectX::getChunkFile(void* nativePath)
{
    return askHostWith(audioMasterGetChunkFile, nativePath);
}
