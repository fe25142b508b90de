#include "AccuracyTable.h"

#include <algorithm>
#include <cmath>

#include "Random.h"

namespace modelgen
{

namespace
{
using Kind = TestSignal::Kind;

constexpr uint32_t gainStepCount = 17;
constexpr uint32_t middleToneStep = (7 * 15 + 7) * 2;
constexpr uint64_t defaultTableSeed = 26;

// Held notes from a guitar's low E to about 2 kHz, and the open strings' fundamentals for plucks.
const std::vector<double> sineFrequencies{82.4, 110.0, 165.0, 220.0, 330.0, 440.0, 660.0, 880.0, 1320.0, 2000.0};
const std::vector<double> pluckFundamentals{82.4, 110.0, 146.8, 196.0, 246.9, 329.6};

uint32_t toneStep(uint32_t treble, uint32_t bass, uint32_t voice)
{
    return (treble * 15 + bass) * 2 + voice;
}

template <class T>
bool allows(const std::vector<T>& choices, T value)
{
    return std::find(choices.begin(), choices.end(), value) != choices.end();
}

template <class T>
void shuffle(std::vector<T>& values, Random& random)
{
    for (size_t k = values.size(); k > 1; --k)
        std::swap(values[k - 1], values[random.below(k)]);
}

// count values cycling through the choices, in shuffled order: every choice comes up equally often
// (within one).
template <class T>
std::vector<T> balanced(const std::vector<T>& choices, size_t count, Random& random)
{
    std::vector<T> values;
    for (size_t k = 0; k < count; ++k)
        values.push_back(choices[k % choices.size()]);
    shuffle(values, random);
    return values;
}

// count values from lo to hi, one from each of count equal strata, in shuffled order.
std::vector<double> stratified(double lo, double hi, size_t count, Random& random)
{
    std::vector<double> values;
    for (size_t k = 0; k < count; ++k)
        values.push_back(lo + (hi - lo) * (double(k) + random.uniform()) / double(count));
    shuffle(values, random);
    return values;
}

template <class T>
T drawFrom(const std::vector<T>& choices, Random& random)
{
    return choices[random.below(choices.size())];
}
} // namespace

ControlRegion::ControlRegion()
{
    for (uint32_t gain = 0; gain < gainStepCount; ++gain)
        gainSteps.push_back(gain);
    for (uint32_t voice : {0u, 1u}) {
        for (uint32_t treble : {0u, 14u})
            for (uint32_t bass : {0u, 14u})
                toneSteps.push_back(toneStep(treble, bass, voice));
        toneSteps.push_back(toneStep(7, 7, voice));
    }
}

bool ControlRegion::holds(const AccuracyCase& c) const
{
    const ChainSettings& s = c.settings;
    return allows(valves, c.valve) && allows(channels, s.channel) && allows(gainSteps, s.gainStep) &&
           allows(toneSteps, s.toneStep) && allows(baseRates, s.baseRate) && allows(factors, s.factor);
}

std::vector<AccuracyCase> defaultCases(const ControlRegion& region, double seconds)
{
    // The balanced sequences are made for the whole space, so that a filtered table holds the same
    // cases as the whole one.
    const ControlRegion whole;
    constexpr size_t drawnPerStep = 4;  // moderate and loud held sines, a sweep, a pluck
    const size_t steps = whole.valves.size() * whole.channels.size() * whole.gainSteps.size();
    const size_t count = steps * drawnPerStep;
    Random random(defaultTableSeed);
    const auto rates = balanced(whole.baseRates, count, random);
    const auto factors = balanced(whole.factors, count, random);
    const auto tones = balanced(whole.toneSteps, count, random);
    const auto inputGains = stratified(lowestInputGain, highestInputGain, count, random);
    const auto frequencies = balanced(sineFrequencies, steps * 2, random);
    const auto fundamentals = balanced(pluckFundamentals, steps, random);
    const auto moderate = stratified(0.3, 0.6, steps, random);
    const auto loud = stratified(0.7, 1.0, steps, random);
    const auto sweepLevels = stratified(0.2, 1.0, steps, random);
    const auto pluckLevels = stratified(0.3, 1.0, steps, random);

    std::vector<AccuracyCase> cases;
    size_t step = 0, drawn = 0;
    for (Valve valve : whole.valves)
        for (Channel channel : whole.channels)
            for (uint32_t gain : whole.gainSteps) {
                cases.push_back({valve, {channel, gain, middleToneStep, 48000, 1, 4},
                                 {Kind::sine, 0.4, 220.0, seconds}, accuracyInputGain});
                const TestSignal signals[drawnPerStep]{
                    {Kind::sine, moderate[step], frequencies[2 * step], seconds},
                    {Kind::sine, loud[step], frequencies[2 * step + 1], seconds},
                    {Kind::sweep, sweepLevels[step], 0.0, seconds},
                    {Kind::pluck, pluckLevels[step], fundamentals[step], seconds}};
                for (const TestSignal& signal : signals) {
                    cases.push_back({valve, {channel, gain, tones[drawn], rates[drawn], factors[drawn], 4}, signal,
                                     float(inputGains[drawn])});
                    ++drawn;
                }
                ++step;
            }
    cases.erase(std::remove_if(cases.begin(), cases.end(), [&](const AccuracyCase& c) { return !region.holds(c); }),
                cases.end());
    return cases;
}

std::vector<AccuracyCase> drawnCases(const ControlRegion& region, size_t count, uint64_t seed, double seconds)
{
    std::vector<AccuracyCase> cases;
    for (size_t k = 0; k < count; ++k) {
        Random random(Random::seedOf(seed, k));
        AccuracyCase c{drawFrom(region.valves, random), {}, {}, accuracyInputGain};
        c.settings.channel = drawFrom(region.channels, random);
        c.settings.gainStep = drawFrom(region.gainSteps, random);
        c.settings.toneStep = drawFrom(region.toneSteps, random);
        c.settings.baseRate = drawFrom(region.baseRates, random);
        c.settings.factor = drawFrom(region.factors, random);
        c.inputGain = float(random.uniform(lowestInputGain, highestInputGain));
        c.signal.kind = static_cast<Kind>(random.below(3));
        c.signal.level = random.uniform(0.1, 1.0);
        c.signal.seconds = seconds;
        if (c.signal.kind == Kind::sine)
            c.signal.frequency = 80.0 * std::exp(random.uniform() * std::log(2000.0 / 80.0));
        else if (c.signal.kind == Kind::pluck)
            c.signal.frequency = drawFrom(pluckFundamentals, random);
        cases.push_back(c);
    }
    return cases;
}

} // namespace modelgen
