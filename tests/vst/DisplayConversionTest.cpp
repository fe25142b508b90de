// The number-to-text conversions: the fixed eight-character texts, the maxLen rule, and bounded
// texts for values the eight-character field cannot hold.
#include "AudioEffectX.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace
{
class Plugin : public AudioEffectX
{
public:
    Plugin() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

constexpr VstInt32 kMaxLen = 8;
constexpr char kUntouched = '#';

// Runs a conversion into a guarded buffer and checks the maxLen rule: nothing beyond index maxLen
// is written and index maxLen holds a zero.
template <typename Convert>
std::string convert(Convert conversion, VstInt32 maxLen = kMaxLen)
{
    char buffer[64];
    std::memset(buffer, kUntouched, sizeof(buffer));
    conversion(buffer, maxLen);
    EXPECT_EQ(buffer[maxLen], '\0');
    for (std::size_t i = static_cast<std::size_t>(maxLen) + 1; i < sizeof(buffer); ++i)
        EXPECT_EQ(buffer[i], kUntouched) << "byte " << i << " written";
    return std::string(buffer);
}

std::string floatText(float value, VstInt32 maxLen = kMaxLen)
{
    Plugin plugin;
    return convert([&](char* text, VstInt32 len) { plugin.float2string(value, text, len); }, maxLen);
}

std::string intText(VstInt32 value, VstInt32 maxLen = 16)
{
    Plugin plugin;
    return convert([&](char* text, VstInt32 len) { plugin.int2string(value, text, len); }, maxLen);
}
} // namespace

TEST(FloatToString, FixedEightCharacterTexts)
{
    EXPECT_EQ(floatText(0.0f), "0.000000");
    EXPECT_EQ(floatText(0.5f), "0.500000");
    EXPECT_EQ(floatText(123.25f), "123.2500");
    EXPECT_EQ(floatText(-1.5f), "-1.50000");
    EXPECT_EQ(floatText(-0.25f), "-0.25000");
    EXPECT_EQ(floatText(1234567.0f), "1234567.");
    EXPECT_EQ(floatText(9999999.0f), "9999999.");
    EXPECT_EQ(floatText(-999999.0f), "-999999.");
    EXPECT_EQ(floatText(3.1f), "3.099999") << "digits are truncated, not rounded";
    EXPECT_EQ(floatText(0.999999f), "0.999998");
}

TEST(FloatToString, ValuesTheFieldCannotHoldAreHuge)
{
    for (float value : {100000000.0f, -10000000.0f, 10000000.0f, 99999999.0f, -1000000.0f, -9999999.0f,
                        std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::max()})
        EXPECT_EQ(floatText(value), "Huge!") << value;
}

TEST(FloatToString, NotANumberGetsAWordInsteadOfDigits)
{
    EXPECT_EQ(floatText(std::numeric_limits<float>::quiet_NaN()), "NaN");
}

TEST(FloatToString, MaxLenCutsTheText)
{
    EXPECT_EQ(floatText(123.25f, 4), "123.");
    EXPECT_EQ(floatText(123.25f, 6), "123.25");
    EXPECT_EQ(floatText(123.25f, 0), "");
    EXPECT_EQ(floatText(100000000.0f, 3), "Hug");
}

TEST(IntToString, DigitsSignAndLimits)
{
    EXPECT_EQ(intText(42), "42");
    EXPECT_EQ(intText(-5), "-5");
    EXPECT_EQ(intText(99999999), "99999999");
    EXPECT_EQ(intText(100000000), "Huge!");
    EXPECT_EQ(intText(-123456789), "-123456789");
    EXPECT_EQ(intText(1000), "1000") << "inner zeros are kept";
    EXPECT_EQ(intText(0), "0");
    EXPECT_EQ(intText(-12345, 3), "-12") << "digits are appended behind the sign within maxLen";
    EXPECT_EQ(intText(-12345, 0), "");
}

TEST(IntToString, MagnitudesBeyondNineDigitsAreHuge)
{
    EXPECT_EQ(intText(-1000000000), "Huge!");
    EXPECT_EQ(intText(std::numeric_limits<VstInt32>::min()), "Huge!");
    EXPECT_EQ(intText(std::numeric_limits<VstInt32>::max()), "Huge!");
}

TEST(DecibelsHertzMilliseconds, TextsAtTheDefaultRate)
{
    Plugin plugin;
    auto dB = [&](float v) { return convert([&](char* t, VstInt32 n) { plugin.dB2string(v, t, n); }); };
    auto hz = [&](float v) { return convert([&](char* t, VstInt32 n) { plugin.Hz2string(v, t, n); }); };
    auto ms = [&](float v) { return convert([&](char* t, VstInt32 n) { plugin.ms2string(v, t, n); }); };
    EXPECT_EQ(dB(1.0f), "0.000000");
    EXPECT_EQ(dB(10.0f), "20.00000");
    EXPECT_EQ(dB(0.5f), "-6.02060");
    EXPECT_EQ(dB(0.0f), "-oo");
    EXPECT_EQ(dB(-0.0f), "-oo");
    EXPECT_EQ(dB(-1.0f), "-oo");
    EXPECT_EQ(hz(441.0f), "100.0000");
    EXPECT_EQ(hz(0.0f), "0.000000");
    EXPECT_EQ(ms(441.0f), "10.00000");
    EXPECT_EQ(ms(44100.0f), "1000.000");

    plugin.setSampleRate(0.0f);
    EXPECT_EQ(ms(1.0f), "Huge!");
    EXPECT_EQ(ms(0.0f), "NaN");
}

TEST(DecibelsHertzMilliseconds, GoThroughTheObjectsOwnFloatConversion)
{
    class Marking : public Plugin
    {
    public:
        void float2string(float, char* text, VstInt32) override { std::strcpy(text, "mark"); }
    } plugin;
    char text[16];
    plugin.dB2string(2.0f, text, 8);
    EXPECT_STREQ(text, "mark");
    plugin.Hz2string(2.0f, text, 8);
    EXPECT_STREQ(text, "mark");
    plugin.ms2string(2.0f, text, 8);
    EXPECT_STREQ(text, "mark");
}

TEST(Conversions, NullTextOrNegativeMaxLenWritesNothing)
{
    Plugin plugin;
    plugin.float2string(1.0f, nullptr, 8);
    plugin.int2string(1, nullptr, 8);
    plugin.dB2string(0.0f, nullptr, 8);
    char text[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    plugin.float2string(1.0f, text, -1);
    plugin.int2string(-7, text, -5);
    plugin.dB2string(0.0f, text, -1);
    EXPECT_EQ(std::string(text, 4), "####");
}
