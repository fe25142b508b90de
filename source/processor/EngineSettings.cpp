#include "EngineSettings.h"

#include "PluginPlatform.h"

#include <array>
#include <cmath>

namespace
{
constexpr float oneOver49 = 0.020408163f;
constexpr double inputScale = 3.0;
constexpr float outputScale = 1.888f;

int truncatedStep(float value, int lowest, int highest)
{
    // Stored values are kept within their ranges; the limit only guards the integer conversion.
    if (!(value > static_cast<float>(lowest - 1)))
        return lowest;
    if (!(value < static_cast<float>(highest + 1)))
        return highest;
    return static_cast<int>(value);
}

const std::array<float, EngineSettings::outputLevelCount>& outputLevels()
{
    static const auto table = [] {
        std::array<float, EngineSettings::outputLevelCount> levels{};
        for (size_t i = 0; i < levels.size(); ++i)
            levels[i] = static_cast<float>(std::pow(10.0, (0.46 * static_cast<double>(i) - 6.54) / 20.0));
        return levels;
    }();
    return table;
}

// File names per stage, in the columns valve 0 ("12ax7 EH1") and valve 1 ("12ax7 RSD-1").
const char* const inputStageFiles[2][2] = {
    {"velmorant_pre_eh_b1_low_pca.dat", "velmorant_pre_rsd_b1_low_pca.dat"},
    {"velmorant_pre_eh_b1_high_pca.dat", "velmorant_pre_rsd_b1_high_pca.dat"}};
const char* const laterStageFiles[3][2] = {
    {"velmorant_pre_eh_b2_pca.dat", "velmorant_pre_rsd_b2_pca.dat"},
    {"velmorant_pre_eh_b3_pca.dat", "velmorant_pre_rsd_b3_pca.dat"},
    {"velmorant_pre_eh_b4_std.dat", "velmorant_pre_rsd_b4_std.dat"}};

bool isSwitchValue(float value)
{
    return value == 0.0f || value == 1.0f;
}
} // namespace

float EngineSettings::outputLevel(int index)
{
    return outputLevels()[static_cast<size_t>(juce::jlimit(0, outputLevelCount - 1, index))];
}

float EngineSettings::inputGain(float input)
{
    return static_cast<float>(static_cast<double>(input * oneOver49) * inputScale);
}

float EngineSettings::outputGain(float output, double supplyVoltage)
{
    const float scaled = outputLevel(truncatedStep(output, 0, outputLevelCount - 1)) * outputScale;
    return static_cast<float>(static_cast<double>(scaled) / supplyVoltage);
}

int EngineSettings::oversamplingFactor(float oversamplingStep)
{
    switch (truncatedStep(oversamplingStep, 0, 4))
    {
        case 1:  return 2;
        case 2:  return 4;
        case 3:  return 8;
        case 4:  return 16;
        default: return 1;
    }
}

int EngineSettings::gainStep(const PreampValues& settings)
{
    return truncatedStep(settings[paramGain], 0, 16);
}

int EngineSettings::toneStep(const PreampValues& settings)
{
    const int treble = truncatedStep(settings[paramTreble], 0, 14);
    const int bass = truncatedStep(settings[paramBass], 0, 14);
    const int voice = truncatedStep(settings[paramVoice], 0, 1);
    return (treble * 15 + bass) * 2 + voice;
}

int EngineSettings::stageStep(const PreampValues& settings, int stage)
{
    return stage == stageCount - 1 ? toneStep(settings) : gainStep(settings);
}

juce::String EngineSettings::modelFileName(const PreampValues& settings, int stage)
{
    const float valve = settings[paramDualTriodes];
    const float channel = settings[paramChannel];
    if (!isSwitchValue(valve) || stage < 0 || stage >= stageCount)
        return {};
    const auto valveColumn = static_cast<size_t>(valve);
    if (stage > 0)
        return laterStageFiles[stage - 1][valveColumn];
    if (!isSwitchValue(channel))
        return {};
    return inputStageFiles[static_cast<size_t>(channel)][valveColumn];
}

bool EngineSettings::isProjectedStage(int stage)
{
    return stage < stageCount - 1;
}

juce::String EngineSettings::defaultModelFolder()
{
    return velmorant::platform::modelFolder();
}
