#include "AudioEffect.h"

#include <cstring>
#include <limits>

namespace
{
AudioEffect* objectOf(AEffect* e)
{
    return e != nullptr ? static_cast<AudioEffect*>(e->object) : nullptr;
}

void writeEmptyText(char* text)
{
    if (text != nullptr)
        text[0] = '\0';
}

VstIntPtr fromBool(bool answer)
{
    return answer ? 1 : 0;
}

// Opcodes whose ptr argument is a text, buffer or record the operation must be able to use.
bool needsPointer(VstInt32 opcode)
{
    switch (opcode)
    {
    case effSetProgramName:
    case effGetProgramName:
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effEditGetRect:
    case effGetChunk:
    case effSetChunk:
        return true;
    default:
        return false;
    }
}
} // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMasterCallbackIn, VstInt32 programCount, VstInt32 paramCount)
    : audioMaster(audioMasterCallbackIn), editor(nullptr), sampleRate(44100.0f), blockSize(1024),
      numPrograms(programCount), numParams(paramCount), curProgram(0), cEffect()
{
    std::memset(&cEffect, 0, sizeof(cEffect));
    setFlag(effFlagsCanReplacing, true);
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = &AudioEffect::dispatchEffectClass;
    cEffect.process = &AudioEffect::processClass;
    cEffect.setParameter = &AudioEffect::setParameterClass;
    cEffect.getParameter = &AudioEffect::getParameterClass;
    cEffect.processReplacing = &AudioEffect::processClassReplacing;
    cEffect.processDoubleReplacing = &AudioEffect::processClassDoubleReplacing;
    cEffect.numPrograms = programCount;
    cEffect.numParams = paramCount;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = vstFourCharCode('N', 'o', 'E', 'f');
    cEffect.version = 1;
}

AudioEffect::~AudioEffect()
{
    delete editor;
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (opcode < 0 || opcode >= effNumOpcodes)
        return 0;
    // A host that hands no buffer gets a refusal instead of a write through null.
    if (ptr == nullptr && needsPointer(opcode))
        return 0;

    switch (opcode)
    {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value >= 0 && value < numPrograms)
            setProgram(static_cast<VstInt32>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<VstInt32>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        return editor != nullptr ? fromBool(editor->getRect(static_cast<ERect**>(ptr))) : 0;
    case effEditOpen:
        return editor != nullptr ? fromBool(editor->open(ptr)) : 0;
    case effEditClose:
        if (editor != nullptr)
            editor->close();
        return 0;
    case effEditIdle:
        if (editor != nullptr)
            editor->idle();
        return 0;
    case effIdentify:
        return kEffectIdentify;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        if (value < 0 || value > std::numeric_limits<VstInt32>::max())
            return 0;
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default: // the deprecated opcodes answer 0 and do nothing
        return 0;
    }
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value)
{
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::getProgramName(char* name)
{
    writeEmptyText(name);
}

void AudioEffect::getParameterLabel(VstInt32 /*index*/, char* label)
{
    writeEmptyText(label);
}

void AudioEffect::getParameterDisplay(VstInt32 /*index*/, char* text)
{
    writeEmptyText(text);
}

void AudioEffect::getParameterName(VstInt32 /*index*/, char* text)
{
    writeEmptyText(text);
}

VstInt32 AudioEffect::getMasterVersion()
{
    const auto version = static_cast<VstInt32>(callHost(audioMasterVersion));
    return version != 0 ? version : 1;
}

VstInt32 AudioEffect::getCurrentUniqueId()
{
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle()
{
    callHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(VstInt32 input)
{
    return static_cast<VstInt32>(callHost(audioMasterPinConnected, input, 0)) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output)
{
    return static_cast<VstInt32>(callHost(audioMasterPinConnected, output, 1)) == 0;
}

void AudioEffect::setFlag(VstInt32 flag, bool state)
{
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    return audioMaster != nullptr ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

VstIntPtr AudioEffect::dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                           float opt)
{
    AudioEffect* effect = objectOf(e);
    if (effect == nullptr)
        return 0;
    const VstIntPtr result = effect->dispatcher(opcode, index, value, ptr, opt);
    if (opcode != effClose)
        return result;
    delete effect;
    return 1;
}

void AudioEffect::processClass(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (AudioEffect* effect = objectOf(e))
        effect->process(inputs, outputs, sampleFrames);
}

void AudioEffect::setParameterClass(AEffect* e, VstInt32 index, float value)
{
    if (AudioEffect* effect = objectOf(e))
        effect->setParameter(index, value);
}

float AudioEffect::getParameterClass(AEffect* e, VstInt32 index)
{
    AudioEffect* effect = objectOf(e);
    return effect != nullptr ? effect->getParameter(index) : 0.0f;
}

void AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (AudioEffect* effect = objectOf(e))
        effect->processReplacing(inputs, outputs, sampleFrames);
}

void AudioEffect::processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs, VstInt32 sampleFrames)
{
    if (AudioEffect* effect = objectOf(e))
        effect->processDoubleReplacing(inputs, outputs, sampleFrames);
}
