// Stands in for the model data generator in the model data cache's tests: `generate FOLDER
// [OPTION ...]` writes two files whose bytes depend on the options but --threads and --log, the
// log that --log names, and a line per run to $FAKE_GENERATOR_RUNS; with $FAKE_GENERATOR_FAIL set
// it fails after the first file, as an interrupted generator does.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3 || std::string(argv[1]) != "generate")
        return 2;
    const std::string folder = argv[2];
    std::string options, log;
    for (int k = 3; k < argc; ++k) {
        const std::string option = argv[k];
        if (option == "--log" && k + 1 < argc)
            log = argv[++k];
        else if (option == "--threads" && k + 1 < argc)
            ++k;
        else
            options += option + "\n";
    }
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/first.dat") << "first\n" << options;
    if (const char* runs = std::getenv("FAKE_GENERATOR_RUNS"))
        std::ofstream(runs, std::ios::app) << "run\n";
    if (std::getenv("FAKE_GENERATOR_FAIL"))
        return 1;
    std::ofstream(folder + "/second.dat") << "second\n" << options;
    if (!log.empty())
        std::ofstream(log) << "generated with\n" << options;
    return 0;
}
