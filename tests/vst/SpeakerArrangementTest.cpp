// Allocation, copy and matching of speaker arrangements as blocks of 8 + 112 x channels bytes.
#include "AudioEffectX.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <string>

namespace
{
class Plugin : public AudioEffectX
{
public:
    Plugin() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

std::size_t usableSize(const void* block)
{
#if defined(_WIN32)
    return _msize(const_cast<void*>(block));
#else
    return malloc_usable_size(const_cast<void*>(block));
#endif
}

// Under AddressSanitizer the usable size is exactly the size asked for.
void expectBlockSize(const void* block, std::size_t bytes)
{
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(usableSize(block), bytes);
#else
    EXPECT_GE(usableSize(block), bytes);
#endif
}

bool zeroFrom(const void* block, std::size_t from, std::size_t to)
{
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = from; i < to; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

VstSpeakerProperties distinctSpeaker(int n)
{
    VstSpeakerProperties speaker{};
    speaker.azimuth = 0.5f * static_cast<float>(n);
    speaker.elevation = -0.25f * static_cast<float>(n);
    speaker.radius = 1.0f + static_cast<float>(n);
    speaker.reserved = 3.0f * static_cast<float>(n);
    std::snprintf(speaker.name, sizeof(speaker.name), "speaker %d", n);
    speaker.type = 10 + n;
    std::memset(speaker.future, 0x40 + n, sizeof(speaker.future));
    return speaker;
}

bool sameSpeaker(const VstSpeakerProperties& a, const VstSpeakerProperties& b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}
} // namespace

TEST(SpeakerArrangement, AllocationMakesZeroedBlocksOfTheChannelSize)
{
    Plugin plugin;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(plugin.allocateArrangement(&arrangement, 2));
    ASSERT_NE(arrangement, nullptr);
    expectBlockSize(arrangement, 232);
    EXPECT_EQ(arrangement->type, 0);
    EXPECT_EQ(arrangement->numChannels, 2);
    EXPECT_TRUE(zeroFrom(arrangement, 8, 232));

    // A held block is released by the next allocation (the leak checker sees it otherwise).
    ASSERT_TRUE(plugin.allocateArrangement(&arrangement, 0));
    expectBlockSize(arrangement, 8);
    EXPECT_EQ(arrangement->numChannels, 0);

    EXPECT_TRUE(plugin.deallocateArrangement(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
    EXPECT_TRUE(plugin.deallocateArrangement(&arrangement)) << "releasing nothing still succeeds";
}

TEST(SpeakerArrangement, ImpossibleChannelCountsAreRefusedAndTheHeldBlockKept)
{
    Plugin plugin;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(plugin.allocateArrangement(&arrangement, 1));
    VstSpeakerArrangement* const held = arrangement;
    // 8 + 112 x 38347923 wraps to a small positive int32; such sizes must not be computed in 32 bits.
    for (VstInt32 channels : {-1, -2147483647 - 1, 19173962, 38347923, 2147483647})
    {
        EXPECT_FALSE(plugin.allocateArrangement(&arrangement, channels)) << channels;
        EXPECT_EQ(arrangement, held);
    }
    EXPECT_FALSE(plugin.allocateArrangement(nullptr, 2));
    plugin.deallocateArrangement(&arrangement);
}

TEST(SpeakerArrangement, CopySpeakerCopiesEveryFieldAndBoundsTheName)
{
    Plugin plugin;
    VstSpeakerProperties from = distinctSpeaker(3);
    VstSpeakerProperties to{};
    ASSERT_TRUE(plugin.copySpeaker(&to, &from));
    EXPECT_TRUE(sameSpeaker(to, from));

    std::memset(from.name, 'n', sizeof(from.name)); // no terminator anywhere
    ASSERT_TRUE(plugin.copySpeaker(&to, &from));
    EXPECT_EQ(std::string(to.name), std::string(63, 'n'));

    EXPECT_FALSE(plugin.copySpeaker(nullptr, &from));
    EXPECT_FALSE(plugin.copySpeaker(&to, nullptr));
}

TEST(SpeakerArrangement, MatchReplacesTheHeldBlockWithACopyOfTheSource)
{
    Plugin plugin;
    VstSpeakerArrangement* source = nullptr;
    ASSERT_TRUE(plugin.allocateArrangement(&source, 3));
    source->type = 7;
    for (int i = 0; i < 3; ++i)
        *vstSpeakerAt(source, i) = distinctSpeaker(i + 1);

    VstSpeakerArrangement* copy = nullptr;
    ASSERT_TRUE(plugin.allocateArrangement(&copy, 5));
    ASSERT_TRUE(plugin.matchArrangement(&copy, source));
    expectBlockSize(copy, 344);
    EXPECT_EQ(copy->type, 7);
    EXPECT_EQ(copy->numChannels, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(sameSpeaker(*vstSpeakerAt(copy, i), *vstSpeakerAt(source, i))) << i;

    EXPECT_FALSE(plugin.matchArrangement(&copy, nullptr));
    EXPECT_NE(copy, nullptr) << "a refused match keeps the held block";
    plugin.deallocateArrangement(&copy);
    plugin.deallocateArrangement(&source);
}

TEST(SpeakerArrangement, MatchFromAHostDeclaredArrangement)
{
    Plugin plugin;
    VstSpeakerArrangement stereo{};
    stereo.type = kSpeakerArrStereo;
    stereo.numChannels = 2;
    stereo.speakers[0] = distinctSpeaker(1);
    stereo.speakers[1] = distinctSpeaker(2);
    VstSpeakerArrangement* copy = nullptr;
    ASSERT_TRUE(plugin.matchArrangement(&copy, &stereo));
    EXPECT_EQ(copy->type, kSpeakerArrStereo);
    EXPECT_TRUE(sameSpeaker(*vstSpeakerAt(copy, 1), stereo.speakers[1]));
    plugin.deallocateArrangement(&copy);
}
