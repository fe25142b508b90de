// Every opcode of 0 to 79 reaches the operation it names, with its arguments in the right places,
// and its answer reaches the host with the right width and sign.
#include "RecordingEffect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace
{
enum class Answer
{
    Zero,    // always 0
    Boolean, // 1 or 0
    Integer, // the int32 answer widened with its sign
    Pointer, // the pointer-sized answer unchanged
    Identify // the fixed effIdentify code
};

struct Row
{
    VstInt32 opcode;
    VstIntPtr value;
    const char* expectedCall; // "" when nothing may be called
    Answer answer;
};

constexpr VstInt32 kIndex = 3;
constexpr VstIntPtr kValue = 5;
constexpr float kOpt = 0.5f;
constexpr VstIntPtr kSecondPointer = -1; // stands for the value argument carrying a pointer

// clang-format off
const Row kRows[] = {
    {0, kValue, "open()", Answer::Zero},
    {1, kValue, "close()", Answer::Zero},
    {2, kValue, "setProgram(5)", Answer::Zero},
    {3, kValue, "getProgram()", Answer::Integer},
    {4, kValue, "setProgramName(ptr)", Answer::Zero},
    {5, kValue, "getProgramName(ptr)", Answer::Zero},
    {6, kValue, "getParameterLabel(3,ptr)", Answer::Zero},
    {7, kValue, "getParameterDisplay(3,ptr)", Answer::Zero},
    {8, kValue, "getParameterName(3,ptr)", Answer::Zero},
    {9, kValue, "", Answer::Zero},
    {10, kValue, "setSampleRate(0.5)", Answer::Zero},
    {11, kValue, "setBlockSize(5)", Answer::Zero},
    {12, kValue, "resume()", Answer::Zero},
    {12, 0, "suspend()", Answer::Zero},
    {13, kValue, "editor.getRect(ptr)", Answer::Boolean},
    {14, kValue, "editor.open(ptr)", Answer::Boolean},
    {15, kValue, "editor.close()", Answer::Zero},
    {16, kValue, "", Answer::Zero},
    {17, kValue, "", Answer::Zero},
    {18, kValue, "", Answer::Zero},
    {19, kValue, "editor.idle()", Answer::Zero},
    {20, kValue, "", Answer::Zero},
    {21, kValue, "", Answer::Zero},
    {22, kValue, "", Answer::Identify},
    {23, kValue, "getChunk(ptr,true)", Answer::Integer},
    {24, kValue, "setChunk(ptr,5,true)", Answer::Integer},
    {25, kValue, "processEvents(ptr)", Answer::Integer},
    {26, kValue, "canParameterBeAutomated(3)", Answer::Boolean},
    {27, kValue, "string2parameter(3,ptr)", Answer::Boolean},
    {28, kValue, "", Answer::Zero},
    {29, kValue, "getProgramNameIndexed(5,3,ptr)", Answer::Boolean},
    {30, kValue, "", Answer::Zero},
    {31, kValue, "", Answer::Zero},
    {32, kValue, "", Answer::Zero},
    {33, kValue, "getInputProperties(3,ptr)", Answer::Boolean},
    {34, kValue, "getOutputProperties(3,ptr)", Answer::Boolean},
    {35, kValue, "getPlugCategory()", Answer::Integer},
    {36, kValue, "", Answer::Zero},
    {37, kValue, "", Answer::Zero},
    {38, kValue, "offlineNotify(ptr,5,true)", Answer::Boolean},
    {39, kValue, "offlinePrepare(ptr,5)", Answer::Boolean},
    {40, kValue, "offlineRun(ptr,5)", Answer::Boolean},
    {41, kValue, "processVariableIo(ptr)", Answer::Boolean},
    {42, kSecondPointer, "setSpeakerArrangement(ptr2,ptr)", Answer::Boolean},
    {43, kValue, "", Answer::Zero},
    {44, kValue, "setBypass(true)", Answer::Boolean},
    {44, 0, "setBypass(false)", Answer::Boolean},
    {45, kValue, "getEffectName(ptr)", Answer::Boolean},
    {46, kValue, "", Answer::Zero},
    {47, kValue, "getVendorString(ptr)", Answer::Boolean},
    {48, kValue, "getProductString(ptr)", Answer::Boolean},
    {49, kValue, "getVendorVersion()", Answer::Integer},
    {50, kValue, "vendorSpecific(3,5,ptr,0.5)", Answer::Pointer},
    {51, kValue, "canDo(ptr)", Answer::Integer},
    {52, kValue, "getGetTailSize()", Answer::Integer},
    {53, kValue, "", Answer::Zero},
    {54, kValue, "", Answer::Zero},
    {55, kValue, "", Answer::Zero},
    {56, kValue, "getParameterProperties(3,ptr)", Answer::Boolean},
    {57, kValue, "", Answer::Zero},
    {58, kValue, "getVstVersion()", Answer::Integer},
    {59, 0x1FF, "editor.onKeyDown(3,255,0)", Answer::Boolean},
    {60, 0x141, "editor.onKeyUp(3,65,0)", Answer::Boolean},
    {61, kValue, "editor.setKnobMode(5)", Answer::Boolean},
    {62, kValue, "getMidiProgramName(3,ptr)", Answer::Integer},
    {63, kValue, "getCurrentMidiProgram(3,ptr)", Answer::Integer},
    {64, kValue, "getMidiProgramCategory(3,ptr)", Answer::Integer},
    {65, kValue, "hasMidiProgramsChanged(3)", Answer::Boolean},
    {66, kValue, "getMidiKeyName(3,ptr)", Answer::Boolean},
    {67, kValue, "beginSetProgram()", Answer::Boolean},
    {68, kValue, "endSetProgram()", Answer::Boolean},
    {69, kSecondPointer, "getSpeakerArrangement(ptr2,ptr)", Answer::Boolean},
    {70, kValue, "getNextShellPlugin(ptr)", Answer::Integer},
    {71, kValue, "startProcess()", Answer::Integer},
    {72, kValue, "stopProcess()", Answer::Integer},
    {73, kValue, "setTotalSampleToProcess(5)", Answer::Integer},
    {74, kValue, "setPanLaw(5,0.5)", Answer::Boolean},
    {75, kValue, "beginLoadBank(ptr)", Answer::Integer},
    {76, kValue, "beginLoadProgram(ptr)", Answer::Integer},
    {77, kValue, "setProcessPrecision(5)", Answer::Boolean},
    {78, kValue, "getNumMidiInputChannels()", Answer::Integer},
    {79, kValue, "getNumMidiOutputChannels()", Answer::Integer},
    {80, kValue, "", Answer::Zero},
    {-1, kValue, "", Answer::Zero},
};
// clang-format on

class Dispatcher : public ::testing::Test
{
protected:
    Dispatcher()
    {
        log.sentinel = buffer;
        log.secondSentinel = secondBuffer;
        effect->installEditor();
    }

    VstIntPtr send(VstInt32 opcode, VstIntPtr value, VstInt32 index = kIndex, void* ptr = nullptr, float opt = kOpt)
    {
        log.calls.clear();
        const VstIntPtr valueArgument = value == kSecondPointer ? reinterpret_cast<VstIntPtr>(secondBuffer) : value;
        return effect->dispatcher(opcode, index, valueArgument, ptr, opt);
    }

    VstIntPtr expectedAnswer(Answer kind) const
    {
        switch (kind)
        {
        case Answer::Boolean:
            return answers.boolean ? 1 : 0;
        case Answer::Integer:
            return answers.integer;
        case Answer::Pointer:
            return answers.pointerSized;
        case Answer::Identify:
            return vstFourCharCode('N', 'v', 'E', 'f');
        case Answer::Zero:
            break;
        }
        return 0;
    }

    void checkEveryRow()
    {
        for (const Row& row : kRows)
        {
            SCOPED_TRACE("opcode " + std::to_string(row.opcode));
            const VstIntPtr result = send(row.opcode, row.value, kIndex, buffer);
            const std::vector<std::string> expected =
                *row.expectedCall ? std::vector<std::string>{row.expectedCall} : std::vector<std::string>{};
            EXPECT_EQ(log.calls, expected);
            EXPECT_EQ(result, expectedAnswer(row.answer));
        }
    }

    CallLog log;
    Answers answers;
    char buffer[256] = {};
    char secondBuffer[256] = {};
    std::unique_ptr<RecordingEffect> effect = std::make_unique<RecordingEffect>(log, answers);
};
} // namespace

TEST_F(Dispatcher, EveryOpcodeReachesItsOperationAndAnswersTrueOrNegative)
{
    checkEveryRow();
}

TEST_F(Dispatcher, FalseAndPositiveAnswersPassUnchanged)
{
    answers.boolean = false;
    answers.integer = 0x7FFFFFFF;
    answers.pointerSized = -2;
    checkEveryRow();
}

TEST_F(Dispatcher, ProgramChangeOutsideTheProgramCountIsIgnored)
{
    for (VstIntPtr value : {VstIntPtr{-1}, VstIntPtr{RecordingEffect::kPrograms}, VstIntPtr{1} << 32})
    {
        EXPECT_EQ(send(effSetProgram, value), 0);
        EXPECT_TRUE(log.calls.empty()) << value;
    }
    send(effSetProgram, RecordingEffect::kPrograms - 1);
    EXPECT_EQ(log.calls, std::vector<std::string>{"setProgram(11)"});
}

TEST_F(Dispatcher, ChunkFlagsAndKeyModifierFollowTheirArguments)
{
    send(effGetChunk, 0, 0, buffer);
    send(effSetChunk, 9, 0, buffer);
    EXPECT_EQ(log.calls, std::vector<std::string>{"setChunk(ptr,9,false)"});
    send(effOfflineNotify, 2, 7, buffer);
    EXPECT_EQ(log.calls, std::vector<std::string>{"offlineNotify(ptr,2,true)"});
    send(effEditKeyDown, 0x1FF, 65, nullptr, 3.9f);
    EXPECT_EQ(log.calls, std::vector<std::string>{"editor.onKeyDown(65,255,3)"});
    send(effEditKeyUp, 0x41, 65, nullptr, 259.0f);
    EXPECT_EQ(log.calls, std::vector<std::string>{"editor.onKeyUp(65,65,3)"});
    // A modifier that has no integer value becomes 0 instead of undefined behaviour.
    send(effEditKeyUp, 0x41, 65, nullptr, 1e20f);
    EXPECT_EQ(log.calls, std::vector<std::string>{"editor.onKeyUp(65,65,0)"});
}

TEST_F(Dispatcher, NullHostPointersAreRefusedWithoutCallingTheOperation)
{
    for (const Row& row : kRows)
    {
        const std::string call = row.expectedCall;
        const bool takesPointer = call.find("ptr") != std::string::npos;
        // The editor's parent window and the vendor-specific pointer may be null.
        if (!takesPointer || row.opcode == effEditOpen || row.opcode == effVendorSpecific)
            continue;
        SCOPED_TRACE("opcode " + std::to_string(row.opcode));
        EXPECT_EQ(send(row.opcode, row.value, kIndex, nullptr), 0);
        EXPECT_TRUE(log.calls.empty());
    }
    EXPECT_EQ(send(effSetSpeakerArrangement, 0, 0, buffer), 0);
    EXPECT_EQ(send(effGetSpeakerArrangement, 0, 0, buffer), 0);
    EXPECT_EQ(send(effSetChunk, -2, 0, buffer), 0); // (-1 is the marker for a pointer value)
    EXPECT_EQ(send(effSetChunk, VstIntPtr{1} << 31, 0, buffer), 0);
    EXPECT_TRUE(log.calls.empty());
}

TEST(DispatcherWithoutEditor, EditorOpcodesAnswerZero)
{
    CallLog log;
    Answers answers;
    RecordingEffect effect(log, answers);
    ERect* rect = nullptr;
    for (VstInt32 opcode : {13, 14, 15, 19, 59, 60, 61})
        EXPECT_EQ(effect.dispatcher(opcode, 65, 1, &rect, 0.0f), 0) << opcode;
    EXPECT_TRUE(log.calls.empty());
}

TEST(RecordEntries, EachEntryReachesItsOperation)
{
    CallLog log;
    Answers answers;
    float* inputs[2] = {};
    float* outputs[2] = {};
    double* doubleInputs[2] = {};
    log.sentinel = inputs;
    log.secondSentinel = outputs;
    auto* effect = new RecordingEffect(log, answers);
    AEffect* record = effect->getAeffect();

    record->processReplacing(record, inputs, outputs, 64);
    record->process(record, inputs, outputs, 32);
    record->setParameter(record, 4, 0.75f);
    EXPECT_EQ(record->getParameter(record, 9), 0.25f);
    log.sentinel = doubleInputs;
    record->processDoubleReplacing(record, doubleInputs, nullptr, 16);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"processReplacing(ptr,ptr2,64)", "process(ptr,ptr2,32)",
                                                   "setParameter(4,0.75)", "getParameter(9)",
                                                   "processDoubleReplacing(ptr,null,16)"}));

    log.calls.clear();
    EXPECT_EQ(effect->dispatcher(effClose, 0, 0, nullptr, 0.0f), 0) << "direct: closes, destroys nothing";
    EXPECT_EQ(log.calls, std::vector<std::string>{"close()"});
    log.calls.clear();
    EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"close()", "destroyed()"}));
}

TEST(RecordEntries, RecordWithoutObjectIsIgnored)
{
    AEffect orphan{};
    EXPECT_EQ(AudioEffect::dispatchEffectClass(&orphan, effGetVstVersion, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(AudioEffect::dispatchEffectClass(nullptr, effClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(AudioEffect::getParameterClass(&orphan, 0), 0.0f);
}

TEST(BaseOperations, DefaultAnswersOfTheBase)
{
    class Plain : public AudioEffectX
    {
    public:
        Plain() : AudioEffectX(nullptr, 4, 2) {}
        void processReplacing(float**, float**, VstInt32) override {}
    } effect;
    char text[8];
    std::memset(text, 'x', sizeof(text));
    effect.dispatcher(effGetProgramName, 0, 0, text, 0.0f);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[1], 'x') << "an empty text is one zero byte";
    effect.dispatcher(effSetProgram, 0, 3, nullptr, 0.0f);
    EXPECT_EQ(effect.dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), 3);
    effect.dispatcher(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    effect.dispatcher(effSetBlockSize, 0, 512, nullptr, 0.0f);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_EQ(effect.getBlockSize(), 512);
    EXPECT_EQ(effect.dispatcher(effGetVstVersion, 0, 0, nullptr, 0.0f), 2400);
    EXPECT_EQ(effect.dispatcher(effGetCurrentMidiProgram, 0, 0, text, 0.0f), -1);
    EXPECT_EQ(effect.dispatcher(effSetTotalSampleToProcess, 0, -9, nullptr, 0.0f), -9);
    void* chunk = nullptr;
    EXPECT_EQ(effect.dispatcher(effGetChunk, 0, 0, &chunk, 0.0f), 0);
    VstSpeakerArrangement* in = reinterpret_cast<VstSpeakerArrangement*>(text);
    VstSpeakerArrangement* out = in;
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out, 0.0f), 0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
}
