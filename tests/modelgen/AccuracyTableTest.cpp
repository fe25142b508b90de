#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "AccuracyTable.h"

using namespace modelgen;

// Every gain step of both valves and channels gets a held 220 Hz note at 0.4 at the plug-in's
// middle settings, held notes at a moderate and a loud level, a sweep and a pluck; over the table
// every rate, factor and tone setting of the space comes up, and the input gain spans the Input
// control. A filter keeps exactly the table's cases in its region.
TEST(AccuracyTable, DefaultTableCoversEveryGainStepAndEveryOtherChoice)
{
    const ControlRegion whole;
    const std::vector<AccuracyCase> table = defaultCases(whole, 0.3);
    std::map<std::tuple<Valve, Channel, uint32_t>, std::vector<const AccuracyCase*>> perStep;
    std::map<uint32_t, size_t> rates, factors, tones;
    float lowestInput = 10.0f, highestInput = 0.0f;
    for (const AccuracyCase& c : table) {
        perStep[{c.valve, c.settings.channel, c.settings.gainStep}].push_back(&c);
        ++rates[c.settings.baseRate];
        ++factors[c.settings.factor];
        ++tones[c.settings.toneStep];
        lowestInput = std::min(lowestInput, c.inputGain);
        highestInput = std::max(highestInput, c.inputGain);
    }
    ASSERT_EQ(perStep.size(), 2u * 2u * 17u);
    for (const auto& [step, cases] : perStep) {
        std::multiset<TestSignal::Kind> kinds;
        double loudest = 0.0;
        for (const AccuracyCase* c : cases) {
            kinds.insert(c->signal.kind);
            if (c->signal.kind == TestSignal::Kind::sine)
                loudest = std::max(loudest, c->signal.level);
        }
        EXPECT_EQ(kinds.count(TestSignal::Kind::sine), 3u);
        EXPECT_EQ(kinds.count(TestSignal::Kind::sweep), 1u);
        EXPECT_EQ(kinds.count(TestSignal::Kind::pluck), 1u);
        EXPECT_GE(loudest, 0.7);
    }
    EXPECT_EQ(rates.size(), whole.baseRates.size());
    EXPECT_EQ(factors.size(), whole.factors.size());
    EXPECT_EQ(tones.size(), whole.toneSteps.size());
    EXPECT_LT(lowestInput, 0.4f);
    EXPECT_GT(highestInput, 2.9f);

    ControlRegion region;
    region.channels = {Channel::high};
    region.gainSteps = {9, 15};
    region.factors = {1};
    std::vector<AccuracyCase> expected;
    std::copy_if(table.begin(), table.end(), std::back_inserter(expected),
                 [&](const AccuracyCase& c) { return region.holds(c); });
    const std::vector<AccuracyCase> filtered = defaultCases(region, 0.3);
    ASSERT_EQ(filtered.size(), expected.size());
    ASSERT_GT(filtered.size(), 4u);
    for (size_t k = 0; k < filtered.size(); ++k)
        EXPECT_EQ(describe(filtered[k]), describe(expected[k]));
}

// Drawn cases stay in the region and the signal ranges, and case k is the same whatever the count.
TEST(AccuracyTable, DrawnCasesStayInTheRegionAndDependOnlyOnTheSeed)
{
    ControlRegion region;
    region.valves = {Valve::rsd1};
    region.baseRates = {44100, 96000};
    const std::vector<AccuracyCase> many = drawnCases(region, 300, 7, 0.3);
    const std::vector<AccuracyCase> few = drawnCases(region, 20, 7, 0.3);
    for (size_t k = 0; k < few.size(); ++k)
        EXPECT_EQ(describe(few[k]), describe(many[k]));
    EXPECT_NE(describe(drawnCases(region, 1, 8, 0.3)[0]), describe(few[0]));
    std::set<uint32_t> gains;
    for (const AccuracyCase& c : many) {
        EXPECT_TRUE(region.holds(c)) << describe(c);
        EXPECT_GE(c.signal.level, 0.1);
        EXPECT_LE(c.signal.level, 1.0);
        EXPECT_GE(double(c.inputGain), lowestInputGain);
        EXPECT_LE(double(c.inputGain), highestInputGain);
        if (c.signal.kind == TestSignal::Kind::sine) {
            EXPECT_GE(c.signal.frequency, 80.0);
            EXPECT_LE(c.signal.frequency, 2000.0);
        }
        gains.insert(c.settings.gainStep);
    }
    EXPECT_EQ(gains.size(), 17u);
}
