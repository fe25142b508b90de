// velmorant-modelgen: generates the plug-in's model data files from the circuit blocks and the
// triode model, and measures how close the networks come to the Newton reference chain.
//
//   velmorant-modelgen generate FOLDER [--threads N] [--seed N] [--log FILE] [--quick] [--valve eh|rsd] [--file K]...
//   velmorant-modelgen accuracy FOLDER [--threads N] [--seconds S] [--draw N [--draw-seed S]] [--standard] [FILTERS]
//   velmorant-modelgen held FOLDER [--threads N] [--seconds S] [--no-reference] [FILTERS]
//
// accuracy compares the network chain with the Newton reference chain on a table of cases over the
// whole control space (the default table, cases drawn at random, or the older standard table of
// sweeps at gains 0, 8 and 16); held measures what held levels and a slow square wave leave above
// 5 kHz at the Input and Output controls' top, where the circuit settles to silence. The filters
// (--valve, --channel, --gain, --tone, --rate, --factor, each repeatable) narrow the cases to a
// region. Both print a line per case and a summary, and exit with 0 whatever they measure.
//
// Progress goes to standard error; the model-file writer's trace lines and the summary go to
// standard output, or to the --log file.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "Accuracy.h"
#include "AccuracyReport.h"
#include "AccuracyTable.h"
#include "HeldInputCheck.h"
#include "Generator.h"
#include "ParallelFor.h"
#include "Progress.h"

using namespace modelgen;

namespace
{
int usage()
{
    std::fprintf(stderr,
                 "usage: velmorant-modelgen generate FOLDER [--threads N] [--seed N] [--log FILE] [--quick]\n"
                 "                                          [--valve eh|rsd] [--file K]...\n"
                 "       velmorant-modelgen accuracy FOLDER [--threads N] [--seconds S] [--draw N [--draw-seed S]]\n"
                 "                                          [--standard] [FILTERS]\n"
                 "       velmorant-modelgen held FOLDER [--threads N] [--seconds S] [--no-reference] [FILTERS]\n"
                 "FILTERS, each repeatable: --valve eh|rsd  --channel low|high  --gain K  --tone STEP  --rate HZ\n"
                 "                          --factor F\n");
    return 2;
}

struct Arguments
{
    std::string command, folder, log;
    uint64_t seed = GeneratorOptions::defaultSeed;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    bool quick = false;
    std::vector<Valve> valves;
    std::vector<size_t> files;
    double seconds = 0.0;  // 0: the command's own length
    // The filters: empty lists keep the command's own choices.
    std::vector<Channel> channels;
    std::vector<uint32_t> gains, tones, rates, factors;
    size_t draw = 0;
    uint64_t drawSeed = 1;
    bool standard = false, reference = true;
};

bool parseCount(const char* text, uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 0);
    return end != text && *end == '\0';
}

bool parseNumberList(const char* text, uint64_t lowest, uint64_t highest, std::vector<uint32_t>& list)
{
    uint64_t value = 0;
    if (!parseCount(text, value) || value < lowest || value > highest)
        return false;
    list.push_back(uint32_t(value));
    return true;
}

bool parse(int argc, char** argv, Arguments& args)
{
    if (argc < 3)
        return false;
    args.command = argv[1];
    args.folder = argv[2];
    for (int k = 3; k < argc; ++k) {
        const std::string option = argv[k];
        const bool hasValue = k + 1 < argc;
        uint64_t count = 0;
        bool ok = true;
        if (option == "--quick")
            args.quick = true;
        else if (option == "--standard")
            args.standard = true;
        else if (option == "--no-reference")
            args.reference = false;
        else if (!hasValue)
            return false;
        else if (option == "--seed")
            ok = parseCount(argv[++k], args.seed);
        else if (option == "--log")
            args.log = argv[++k];
        else if (option == "--threads")
            args.threads = unsigned(std::max(1, std::atoi(argv[++k])));
        else if (option == "--valve") {
            const std::string v = argv[++k];
            ok = v == "eh" || v == "rsd";
            args.valves.push_back(v == "eh" ? Valve::eh1 : Valve::rsd1);
        } else if (option == "--channel") {
            const std::string c = argv[++k];
            ok = c == "low" || c == "high";
            args.channels.push_back(c == "low" ? Channel::low : Channel::high);
        } else if (option == "--file") {
            const size_t file = size_t(std::atoi(argv[++k]));
            ok = file < stageFiles.size();
            args.files.push_back(file);
        } else if (option == "--seconds")
            args.seconds = std::atof(argv[++k]);
        else if (option == "--gain")
            ok = parseNumberList(argv[++k], 0, 16, args.gains);
        else if (option == "--tone")
            ok = parseNumberList(argv[++k], 0, 449, args.tones);
        else if (option == "--rate")
            ok = parseNumberList(argv[++k], 8000, 384000, args.rates);
        else if (option == "--factor")
            ok = parseNumberList(argv[++k], 1, 16, args.factors);
        else if (option == "--draw") {
            ok = parseCount(argv[++k], count) && count > 0;
            args.draw = size_t(count);
        } else if (option == "--draw-seed")
            ok = parseCount(argv[++k], args.drawSeed);
        else
            return false;
        if (!ok)
            return false;
    }
    if (args.files.empty())
        for (size_t f = 0; f < stageFiles.size(); ++f)
            args.files.push_back(f);
    return args.seconds >= 0.0;
}

// The region the filters leave of the control space (or of the command's own choices).
ControlRegion regionOf(const Arguments& args, ControlRegion region)
{
    if (!args.valves.empty())
        region.valves = args.valves;
    if (!args.channels.empty())
        region.channels = args.channels;
    if (!args.gains.empty())
        region.gainSteps = args.gains;
    if (!args.tones.empty())
        region.toneSteps = args.tones;
    if (!args.rates.empty())
        region.baseRates = args.rates;
    if (!args.factors.empty())
        region.factors = args.factors;
    return region;
}

int generate(const Arguments& args)
{
    std::error_code ec;
    std::filesystem::create_directories(args.folder, ec);
    if (!args.log.empty() && std::freopen(args.log.c_str(), "w", stdout) == nullptr) {
        std::fprintf(stderr, "velmorant-modelgen: cannot write the log %s\n", args.log.c_str());
        return 1;
    }
    GeneratorOptions options = args.quick ? GeneratorOptions::quick() : GeneratorOptions();
    options.threads = args.threads;
    options.seed = args.seed;
    options.progress = stderr;
    Generator generator(options);
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const std::vector<Valve> valves = args.valves.empty() ? std::vector<Valve>{Valve::eh1, Valve::rsd1} : args.valves;
    const bool ok = generator.generate(args.folder, valves, args.files, error);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s", generator.summary().c_str());
    if (!ok) {
        std::fprintf(stderr, "velmorant-modelgen: %s\n", error.c_str());
        return 1;
    }
    for (std::FILE* out : {stdout, stderr})
        std::fprintf(out, "model data written to %s in %s on %u threads (seed %llu)\n", args.folder.c_str(),
                     durationText(seconds).c_str(), args.threads, static_cast<unsigned long long>(args.seed));
    return 0;
}

int accuracy(const Arguments& args)
{
    const ControlRegion region = regionOf(args, ControlRegion());
    const double seconds = args.seconds > 0.0 ? args.seconds : 0.3;
    std::vector<AccuracyCase> cases;
    if (args.standard) {
        for (const AccuracyCase& c : standardCases(args.seconds > 0.0 ? args.seconds : 0.25, 48000))
            if (region.holds(c))
                cases.push_back(c);
    } else if (args.draw > 0)
        cases = drawnCases(region, args.draw, args.drawSeed, seconds);
    else
        cases = defaultCases(region, seconds);
    // The longest runs first, so that the last ones to finish are short.
    std::vector<size_t> order(cases.size());
    std::iota(order.begin(), order.end(), size_t(0));
    const auto cost = [&](size_t k) { return cases[k].settings.baseRate * cases[k].settings.factor; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return cost(a) > cost(b); });
    std::vector<AccuracyResult> results(cases.size());
    parallelFor(cases.size(), args.threads,
                [&](size_t k) { results[order[k]] = compareChains(args.folder, cases[order[k]]); });
    for (const AccuracyResult& result : results)
        if (!result.error.empty()) {
            std::fprintf(stderr, "velmorant-modelgen: %s\n", result.error.c_str());
            return 1;
        }
    printAccuracyReport(cases, results, stdout);
    return 0;
}

int held(const Arguments& args)
{
    ControlRegion defaults;
    defaults.toneSteps = {(7 * 15 + 7) * 2 + 1};  // the default program's: treble and bass 7, voice off
    defaults.baseRates = {48000};
    defaults.factors = {1};
    const ControlRegion region = regionOf(args, defaults);
    HeldCheckOptions options;
    if (args.seconds > 0.0)
        options.seconds = args.seconds;
    std::vector<HeldUnit> units;
    for (Valve valve : region.valves)
        for (Channel channel : region.channels)
            for (uint32_t gain : region.gainSteps)
                for (uint32_t tone : region.toneSteps)
                    for (uint32_t rate : region.baseRates)
                        for (uint32_t factor : region.factors)
                            units.push_back({valve, {channel, gain, tone, rate, factor, 4}});
    std::vector<std::vector<HeldResult>> results(units.size());
    std::vector<std::string> errors(units.size());
    parallelFor(units.size(), args.threads, [&](size_t k) {
        errors[k] = checkHeldInputs(args.folder, units[k].first, units[k].second, options, false, results[k]);
    });
    for (const std::string& error : errors)
        if (!error.empty()) {
            std::fprintf(stderr, "velmorant-modelgen: %s\n", error.c_str());
            return 1;
        }
    const size_t inputs = options.inputs.size();
    if (args.reference)
        parallelFor(units.size() * inputs, args.threads, [&](size_t k) {
            const HeldUnit& unit = units[k / inputs];
            HeldResult& result = results[k / inputs][k % inputs];
            result.reference = referenceHighBand(unit.first, unit.second, result.input, options);
        });
    printHeldReport(units, results, args.reference, stdout);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    if (!parse(argc, argv, args))
        return usage();
    if (args.command == "generate")
        return generate(args);
    if (args.command == "accuracy")
        return accuracy(args);
    if (args.command == "held")
        return held(args);
    return usage();
}
