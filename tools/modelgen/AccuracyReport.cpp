#include "AccuracyReport.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <tuple>

namespace modelgen
{

namespace
{
struct Tally
{
    size_t cases = 0, underFloor = 0;
    double worstSer = 1e9, worstWindow = 1e9, serSum = 0.0;

    void add(const AccuracyResult& r)
    {
        ++cases;
        underFloor += r.serDb < serFloorDb || r.worstWindowDb < windowFloorDb ? 1 : 0;
        worstSer = std::min(worstSer, r.serDb);
        worstWindow = std::min(worstWindow, r.worstWindowDb);
        serSum += r.serDb;
    }
};

void printCase(const AccuracyCase& c, const AccuracyResult& r, std::FILE* out)
{
    std::fprintf(out, "%s  SER %6.1f dB  10 ms windows worst %6.1f dB mean %6.1f dB\n", describe(c).c_str(), r.serDb,
                 r.worstWindowDb, r.meanWindowDb);
}

template <class Key>
void printWorst(const char* title, const std::vector<AccuracyCase>& cases, const std::vector<AccuracyResult>& results,
                Key key, std::FILE* out)
{
    std::vector<size_t> order(cases.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(results[a]) < key(results[b]); });
    std::fprintf(out, "%s:\n", title);
    for (size_t k = 0; k < std::min<size_t>(10, order.size()); ++k)
        printCase(cases[order[k]], results[order[k]], out);
}
} // namespace

void printAccuracyReport(const std::vector<AccuracyCase>& cases, const std::vector<AccuracyResult>& results,
                         std::FILE* out)
{
    Tally all;
    std::map<std::tuple<Valve, Channel, uint32_t>, Tally> perStep;
    std::map<uint32_t, std::pair<double, double>> costPerFactor;  // reference, networks (ns per host sample)
    std::map<uint32_t, size_t> casesPerFactor;
    for (size_t k = 0; k < cases.size(); ++k) {
        const AccuracyCase& c = cases[k];
        const AccuracyResult& r = results[k];
        printCase(c, r, out);
        all.add(r);
        perStep[{c.valve, c.settings.channel, c.settings.gainStep}].add(r);
        costPerFactor[c.settings.factor].first += r.referenceNsPerSample;
        costPerFactor[c.settings.factor].second += r.networkNsPerSample;
        ++casesPerFactor[c.settings.factor];
    }
    if (cases.empty()) {
        std::fprintf(out, "no cases in the region\n");
        return;
    }

    std::fprintf(out, "\nper valve, channel and gain step:\n");
    for (const auto& [key, t] : perStep)
        std::fprintf(out, "%-3s %-4s gain %2u: cases %3zu  worst SER %6.1f dB  worst window %6.1f dB  mean SER %6.1f dB"
                          "  under a floor %zu\n",
                     valveFileTag(std::get<0>(key)), std::get<1>(key) == Channel::low ? "low" : "high",
                     std::get<2>(key), t.cases, t.worstSer, t.worstWindow, t.serSum / double(t.cases), t.underFloor);

    const auto under = [&](auto below) {
        return size_t(std::count_if(results.begin(), results.end(), below));
    };
    std::fprintf(out,
                 "\ncases %zu, worst SER %.1f dB, mean %.1f dB, worst 10 ms window %.1f dB;\n"
                 "under %.0f dB SER: %zu, worst window under %.0f dB: %zu, under either: %zu\n",
                 all.cases, all.worstSer, all.serSum / double(all.cases), all.worstWindow, serFloorDb,
                 under([](const AccuracyResult& r) { return r.serDb < serFloorDb; }), windowFloorDb,
                 under([](const AccuracyResult& r) { return r.worstWindowDb < windowFloorDb; }), all.underFloor);
    std::fprintf(out, "\n");
    printWorst("worst 10 by SER", cases, results, [](const AccuracyResult& r) { return r.serDb; }, out);
    printWorst("worst 10 by 10 ms window", cases, results, [](const AccuracyResult& r) { return r.worstWindowDb; },
               out);
    for (const auto& [factor, cost] : costPerFactor) {
        const double n = double(casesPerFactor[factor]);
        std::fprintf(out, "factor %u: reference %.0f ns/sample, networks %.0f ns/sample, ratio %.1f\n", factor,
                     cost.first / n, cost.second / n, cost.first / cost.second);
    }
}

namespace
{
struct HeldLine
{
    const HeldUnit* unit;
    const HeldResult* result;
};

bool overLimit(const HighBandLevel& level)
{
    return level.worstWindowDbfs > heldLimitDbfs;
}

void printHeld(const HeldLine& line, bool withReference, std::FILE* out)
{
    const HeldResult& r = *line.result;
    std::fprintf(out, "%s %-18s above 5 kHz: networks %7.1f dBFS, worst 10 ms %7.1f dBFS, peak %.4f",
                 describeSettings(line.unit->first, line.unit->second).c_str(), r.input.name().c_str(),
                 r.network.rmsDbfs, r.network.worstWindowDbfs, r.network.peak);
    if (withReference)
        std::fprintf(out, "; reference %7.1f dBFS, worst 10 ms %7.1f dBFS", r.reference.rmsDbfs,
                     r.reference.worstWindowDbfs);
    std::fprintf(out, "%s\n", overLimit(r.network) ? "  OVER" : "");
}
} // namespace

void printHeldReport(const std::vector<HeldUnit>& units, const std::vector<std::vector<HeldResult>>& results,
                     bool withReference, std::FILE* out)
{
    std::vector<HeldLine> lines;
    struct StepTally
    {
        size_t renders = 0, over = 0;
        double loudest = -300.0, loudestReference = -300.0;
    };
    std::map<std::tuple<Valve, Channel, uint32_t>, StepTally> perStep;
    for (size_t u = 0; u < units.size(); ++u)
        for (const HeldResult& result : results[u]) {
            lines.push_back({&units[u], &result});
            printHeld(lines.back(), withReference, out);
            StepTally& t = perStep[{units[u].first, units[u].second.channel, units[u].second.gainStep}];
            ++t.renders;
            t.over += overLimit(result.network) ? 1 : 0;
            t.loudest = std::max(t.loudest, result.network.worstWindowDbfs);
            t.loudestReference = std::max(t.loudestReference, result.reference.worstWindowDbfs);
        }
    std::fprintf(out, "\nper valve, channel and gain step (worst 10 ms window above 5 kHz):\n");
    for (const auto& [key, t] : perStep) {
        std::fprintf(out, "%-3s %-4s gain %2u: renders %3zu  over %.0f dBFS %3zu  loudest %7.1f dBFS",
                     valveFileTag(std::get<0>(key)), std::get<1>(key) == Channel::low ? "low" : "high",
                     std::get<2>(key), t.renders, heldLimitDbfs, t.over, t.loudest);
        if (withReference)
            std::fprintf(out, "  reference loudest %7.1f dBFS", t.loudestReference);
        std::fprintf(out, "\n");
    }
    const auto over = [&](double limit, auto level) {
        return size_t(std::count_if(lines.begin(), lines.end(),
                                    [&](const HeldLine& l) { return level(l).worstWindowDbfs > limit; }));
    };
    const auto network = [](const HeldLine& l) { return l.result->network; };
    std::fprintf(out, "\nrenders %zu, over %.0f dBFS above 5 kHz after the steps settle: networks %zu", lines.size(),
                 heldLimitDbfs, over(heldLimitDbfs, network));
    if (withReference)
        std::fprintf(out, ", reference %zu",
                     over(heldLimitDbfs, [](const HeldLine& l) { return l.result->reference; }));
    // A chain trembling around its rest stays far below an oscillation, which reaches a few dB
    // under full scale.
    std::fprintf(out, "\nnetworks over -60 dBFS: %zu, over -40 dBFS: %zu, over -20 dBFS: %zu", over(-60.0, network),
                 over(-40.0, network), over(-20.0, network));
    std::fprintf(out, "\n\nloudest 10:\n");
    std::stable_sort(lines.begin(), lines.end(), [](const HeldLine& a, const HeldLine& b) {
        return a.result->network.worstWindowDbfs > b.result->network.worstWindowDbfs;
    });
    for (size_t k = 0; k < std::min<size_t>(10, lines.size()); ++k)
        printHeld(lines[k], withReference, out);
}

} // namespace modelgen
