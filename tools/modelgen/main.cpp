// velmorant-modelgen: generates the plug-in's model data files from the circuit blocks and the
// triode model, and measures how close the networks come to the Newton reference chain.
//
//   velmorant-modelgen generate FOLDER [--threads N] [--seed N] [--log FILE] [--quick] [--valve eh|rsd] [--file K]...
//   velmorant-modelgen accuracy FOLDER [--threads N] [--seconds S] [--rate HZ] [--valve eh|rsd]
//
// Progress goes to standard error; the model-file writer's trace lines and the summary go to
// standard output, or to the --log file.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Accuracy.h"
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
                 "       velmorant-modelgen accuracy FOLDER [--threads N] [--seconds S] [--rate HZ] [--valve eh|rsd]\n");
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
    double seconds = 0.25;
    uint32_t rate = 48000;
};

bool parse(int argc, char** argv, Arguments& args)
{
    if (argc < 3)
        return false;
    args.command = argv[1];
    args.folder = argv[2];
    for (int k = 3; k < argc; ++k) {
        const std::string option = argv[k];
        const bool hasValue = k + 1 < argc;
        if (option == "--quick")
            args.quick = true;
        else if (option == "--seed" && hasValue) {
            char* end = nullptr;
            args.seed = std::strtoull(argv[++k], &end, 0);
            if (end == argv[k] || *end != '\0')
                return false;
        } else if (option == "--log" && hasValue)
            args.log = argv[++k];
        else if (option == "--threads" && hasValue)
            args.threads = unsigned(std::max(1, std::atoi(argv[++k])));
        else if (option == "--valve" && hasValue) {
            const std::string v = argv[++k];
            if (v != "eh" && v != "rsd")
                return false;
            args.valves.push_back(v == "eh" ? Valve::eh1 : Valve::rsd1);
        } else if (option == "--file" && hasValue) {
            const size_t file = size_t(std::atoi(argv[++k]));
            if (file >= stageFiles.size())
                return false;
            args.files.push_back(file);
        } else if (option == "--seconds" && hasValue)
            args.seconds = std::atof(argv[++k]);
        else if (option == "--rate" && hasValue)
            args.rate = uint32_t(std::atoi(argv[++k]));
        else
            return false;
    }
    if (args.valves.empty())
        args.valves = {Valve::eh1, Valve::rsd1};
    if (args.files.empty())
        for (size_t f = 0; f < stageFiles.size(); ++f)
            args.files.push_back(f);
    return args.seconds > 0.0 && args.rate > 0;
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
    const bool ok = generator.generate(args.folder, args.valves, args.files, error);
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
    std::vector<AccuracyCase> cases;
    for (AccuracyCase& c : standardCases(args.seconds, args.rate))
        if (std::find(args.valves.begin(), args.valves.end(), c.valve) != args.valves.end())
            cases.push_back(std::move(c));
    std::vector<AccuracyResult> results(cases.size());
    parallelFor(cases.size(), args.threads, [&](size_t k) { results[k] = compareChains(args.folder, cases[k]); });

    double worst = 1e9, sum = 0.0, worstWindow = 1e9;
    size_t atTarget = 0;
    double referenceCost[2] = {0, 0}, networkCost[2] = {0, 0};
    size_t counted[2] = {0, 0};
    for (size_t k = 0; k < cases.size(); ++k) {
        if (!results[k].error.empty()) {
            std::fprintf(stderr, "velmorant-modelgen: %s\n", results[k].error.c_str());
            return 1;
        }
        std::printf("%s  SER %6.1f dB  10 ms windows worst %6.1f dB mean %6.1f dB\n", describe(cases[k]).c_str(),
                    results[k].serDb, results[k].worstWindowDb, results[k].meanWindowDb);
        worst = std::min(worst, results[k].serDb);
        worstWindow = std::min(worstWindow, results[k].worstWindowDb);
        sum += results[k].serDb;
        atTarget += results[k].serDb >= 40.0 ? 1 : 0;
        const size_t f = cases[k].settings.factor == 1 ? 0 : 1;
        referenceCost[f] += results[k].referenceNsPerSample;
        networkCost[f] += results[k].networkNsPerSample;
        ++counted[f];
    }
    std::printf("cases %zu, worst SER %.1f dB, mean %.1f dB, %zu at 40 dB or more, worst 10 ms window %.1f dB\n",
                cases.size(), worst, sum / double(cases.size()), atTarget, worstWindow);
    for (size_t f = 0; f < 2; ++f)
        if (counted[f] > 0)
            std::printf("factor %s: reference %.0f ns/sample, networks %.0f ns/sample, ratio %.1f\n",
                        f == 0 ? "1" : "4", referenceCost[f] / double(counted[f]),
                        networkCost[f] / double(counted[f]), referenceCost[f] / networkCost[f]);
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
    return usage();
}
