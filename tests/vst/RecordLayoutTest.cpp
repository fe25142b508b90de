// The record as the host reads it: bytes at the published 64-bit offsets, and the values the
// base constructor leaves there.
#include "AudioEffectX.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
class PlainEffect : public AudioEffectX
{
public:
    explicit PlainEffect(audioMasterCallback host = nullptr) : AudioEffectX(host, 12, 11) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

template <typename T>
T readAt(const AEffect* record, std::size_t offset)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(record) + offset, sizeof(T));
    return value;
}

bool allZero(const AEffect* record, std::size_t from, std::size_t to)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    for (std::size_t i = from; i < to; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}
} // namespace

TEST(RecordLayout, FreshBaseRecordHoldsTheBaseValuesAtTheirOffsets)
{
    PlainEffect effect;
    const AEffect* record = effect.getAeffect();

    EXPECT_EQ(0, std::memcmp(record, "PtsV", 4));
    EXPECT_EQ(readAt<void*>(record, 96), static_cast<void*>(&effect));
    EXPECT_EQ(readAt<VstInt32>(record, 40), 12);
    EXPECT_EQ(readAt<VstInt32>(record, 44), 11);
    EXPECT_EQ(readAt<VstInt32>(record, 48), 1);
    EXPECT_EQ(readAt<VstInt32>(record, 52), 2);
    EXPECT_EQ(readAt<VstInt32>(record, 56), 16);
    EXPECT_EQ(readAt<VstInt32>(record, 80), 0);
    EXPECT_EQ(readAt<float>(record, 92), 1.0f);
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<const char*>(record) + 112, "fEoN", 4));
    EXPECT_EQ(readAt<VstInt32>(record, 116), 1);

    EXPECT_TRUE(allZero(record, 4, 8));
    EXPECT_TRUE(allZero(record, 60, 92)) << "gap, reserved fields, delay and qualities";
    EXPECT_TRUE(allZero(record, 104, 112)) << "user";
    EXPECT_TRUE(allZero(record, 136, 192)) << "future";
}

TEST(RecordLayout, EntryPointersAreTheStaticEntriesAtTheirOffsets)
{
    PlainEffect effect;
    const AEffect* record = effect.getAeffect();
    EXPECT_EQ(readAt<AEffectDispatcherProc>(record, 8), &AudioEffect::dispatchEffectClass);
    EXPECT_EQ(readAt<AEffectProcessProc>(record, 16), &AudioEffect::processClass);
    EXPECT_EQ(readAt<AEffectSetParameterProc>(record, 24), &AudioEffect::setParameterClass);
    EXPECT_EQ(readAt<AEffectGetParameterProc>(record, 32), &AudioEffect::getParameterClass);
    EXPECT_EQ(readAt<AEffectProcessProc>(record, 120), &AudioEffect::processClassReplacing);
    EXPECT_EQ(readAt<AEffectProcessDoubleProc>(record, 128), &AudioEffect::processClassDoubleReplacing);
}

TEST(RecordLayout, SettersWriteTheirFieldsAndFlagBits)
{
    PlainEffect effect;
    AEffect* record = effect.getAeffect();
    effect.setUniqueID(vstFourCharCode('Z', 'K', 'T', 'W'));
    effect.setNumInputs(2);
    effect.setNumOutputs(3);
    effect.setInitialDelay(64);
    effect.setRealtimeQualities(5);
    effect.setOfflineQualities(6);
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<const char*>(record) + 112, "WTKZ", 4));
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 3);
    EXPECT_EQ(record->initialDelay, 64);
    EXPECT_EQ(record->realQualities, 5);
    EXPECT_EQ(record->offQualities, 6);

    effect.canProcessReplacing(false);
    EXPECT_EQ(record->flags, 0);
    effect.hasClip(true);
    effect.hasVu(true);
    effect.canMono(true);
    effect.canProcessReplacing(true);
    effect.programsAreChunks(true);
    effect.isSynth(true);
    effect.noTail(true);
    effect.wantAsyncOperation(true);
    effect.hasExternalBuffer(true);
    effect.canDoubleReplacing(true);
    EXPECT_EQ(record->flags, 2 + 4 + 8 + 16 + 32 + 256 + 512 + 1024 + 2048 + 4096);
    effect.isSynth(false);
    effect.hasVu(false);
    EXPECT_EQ(record->flags, 2 + 8 + 16 + 32 + 512 + 1024 + 2048 + 4096);
}

TEST(RecordLayout, BaseFieldsStartAtTheirDefaults)
{
    PlainEffect effect;
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(effect.getProgram(), 0);
    EXPECT_EQ(effect.getEditor(), nullptr);
    EXPECT_EQ(effect.getVstVersion(), 2400);
    effect.setBlockSizeAndSampleRate(256, 96000.0f);
    EXPECT_EQ(effect.getSampleRate(), 96000.0f);
    EXPECT_EQ(effect.getBlockSize(), 256);
}
