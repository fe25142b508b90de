// The number-to-text conversions of AudioEffect. Every text holds at most maxLen characters and a
// zero at index maxLen, so the caller's buffer holds maxLen + 1 bytes.
#include "AudioEffect.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace
{
constexpr const char* kHuge = "Huge!";
constexpr const char* kMinusInfinity = "-oo";
constexpr const char* kNotANumber = "NaN";
constexpr int kFieldWidth = 8;          // sign, digits and point of float2string
constexpr int kWorkAreaSize = 32;       // digits are built here before they reach the caller
constexpr double kLargestPositiveIntegerPart = 9999999.0; // seven digits + point fill the field
constexpr double kLargestNegativeIntegerPart = 999999.0;  // sign + six digits + point fill the field
constexpr std::int64_t kLargestPositiveInt = 99999999;
constexpr std::int64_t kLargestIntMagnitude = 999999999; // nine digits from the place value 10^8
constexpr std::int64_t kHighestPlaceValue = 100000000;

// The first copy: the characters, then zero bytes up to maxLen, and a zero at maxLen.
void copyText(char* text, const char* source, VstInt32 maxLen)
{
    if (text == nullptr || maxLen < 0)
        return;
    std::strncpy(text, source, static_cast<std::size_t>(maxLen));
    text[maxLen] = '\0';
}

// Later parts go behind the text so far, never beyond maxLen characters in all.
void appendText(char* text, const char* source, VstInt32 maxLen)
{
    if (text == nullptr || maxLen < 0)
        return;
    const std::size_t limit = static_cast<std::size_t>(maxLen);
    const std::size_t used = strnlen(text, limit);
    std::strncat(text, source, limit - used);
    text[maxLen] = '\0';
}

// Writes the digits of a non-negative whole number below 10^8 (units digit always) at `out`;
// answers the count written.
int writeIntegerPart(double wholePart, char* out)
{
    char reversed[kWorkAreaSize];
    int count = 0;
    double part = wholePart;
    do
    {
        reversed[count++] = static_cast<char>('0' + static_cast<int>(std::fmod(part, 10.0)));
        part /= 10.0;
    } while (part >= 1.0);
    for (int i = 0; i < count; ++i)
        out[i] = reversed[count - 1 - i];
    return count;
}

// Writes `count` fraction digits of `fraction` (0 <= fraction < 1), truncated, at `out`.
void writeFractionDigits(double fraction, int count, char* out)
{
    double mantissa = fraction * std::pow(10.0, count);
    for (int i = count - 1; i >= 0; --i)
    {
        if (mantissa <= 0.0)
        {
            out[i] = '0';
            continue;
        }
        out[i] = static_cast<char>('0' + static_cast<int>(std::fmod(mantissa, 10.0)));
        mantissa /= 10.0;
    }
}
} // namespace

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen)
{
    if (value <= 0.0f)
    {
        copyText(text, kMinusInfinity, maxLen);
        return;
    }
    const float decibels = static_cast<float>(20.0 * static_cast<double>(std::log10(value)));
    float2string(decibels, text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen)
{
    const float rate = getSampleRate();
    float2string(samples == 0.0f ? 0.0f : rate / samples, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen)
{
    const double milliseconds = static_cast<double>(samples) * 1000.0 / static_cast<double>(getSampleRate());
    float2string(static_cast<float>(milliseconds), text, maxLen);
}

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen)
{
    double v = static_cast<double>(value);
    if (std::isnan(v))
    {
        copyText(text, kNotANumber, maxLen);
        return;
    }
    const bool negative = v < 0.0;
    if (negative)
        v = -v;
    // Only integer parts that leave room for the point in the eight-character field are shown.
    const double wholePart = std::floor(v);
    if (wholePart > (negative ? kLargestNegativeIntegerPart : kLargestPositiveIntegerPart))
    {
        copyText(text, kHuge, maxLen);
        return;
    }

    char work[kWorkAreaSize];
    int count = 0;
    if (negative)
        work[count++] = '-';
    count += writeIntegerPart(wholePart, work + count);
    work[count++] = '.';
    work[count] = '\0';
    copyText(text, work, maxLen);
    if (count == kFieldWidth)
        return;

    const int fractionDigits = kFieldWidth - count;
    writeFractionDigits(std::fmod(v, 1.0), fractionDigits, work);
    work[fractionDigits] = '\0';
    appendText(text, work, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen)
{
    // Widened so that the most negative int32 has a magnitude.
    std::int64_t magnitude = value;
    const bool negative = magnitude < 0;
    if (negative)
        magnitude = -magnitude;
    if (magnitude > (negative ? kLargestIntMagnitude : kLargestPositiveInt))
    {
        copyText(text, kHuge, maxLen);
        return;
    }

    char work[kWorkAreaSize];
    int count = 0;
    for (std::int64_t place = kHighestPlaceValue; place > 0; place /= 10)
    {
        const auto digit = static_cast<int>(magnitude / place);
        magnitude %= place;
        if (count > 0 || digit > 0 || place == 1)
            work[count++] = static_cast<char>('0' + digit);
    }
    work[count] = '\0';
    copyText(text, negative ? "-" : "", maxLen);
    appendText(text, work, maxLen);
}
