#include "HostOptions.h"

#include "HostPlatform.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace velmorant::host {
namespace {

bool parseInteger(const std::string& text, long lowest, long highest, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= lowest && value <= highest;
}

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value);
}

bool parseFormat(const std::string& text, SampleFormat& format) {
    if (text == "16") format = SampleFormat::Int16;
    else if (text == "24") format = SampleFormat::Int24;
    else if (text == "float" || text == "32f") format = SampleFormat::Float32;
    else return false;
    return true;
}

bool parseParameter(const std::string& text, HostOptions& options, std::string& error) {
    const auto equals = text.rfind('=');
    double value = 0.0;
    if (equals == std::string::npos || equals == 0 || !parseNumber(text.substr(equals + 1), value) || value < 0.0 ||
        value > 1.0) {
        error = "--param wants NAME=VALUE or INDEX=VALUE with VALUE from 0 to 1, not '" + text + "'";
        return false;
    }
    options.parameters.emplace_back(text.substr(0, equals), static_cast<float>(value));
    return true;
}

}  // namespace

std::string defaultPluginPath() {
    const std::string program = platform::executablePath();
    if (program.empty()) return platform::kPluginFileName;
    return platform::directoryOf(program) + platform::nativePath("../plugin/") + platform::kPluginFileName;
}

bool parseHostOptions(int argc, char** argv, HostOptions& options, std::string& error) {
    options.plugin = defaultPluginPath();
    const auto fail = [&](const std::string& reason) {
        error = reason;
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() { return std::string(argv[++i]); };
        long number = 0;
        double real = 0.0;
        SampleFormat format = SampleFormat::Int16;
        if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--editor") {
            options.showEditor = true;
        } else if (arg.rfind("--", 0) == 0 && i + 1 >= argc) {
            return fail(arg + " needs a value");
        } else if (arg == "--plugin" || arg == "--load-chunk" || arg == "--save-chunk") {
            std::string& file = arg == "--plugin"       ? options.plugin
                                : arg == "--load-chunk" ? options.loadChunk
                                                        : options.saveChunk;
            file = value();
            // An empty name would quietly mean no file: a chunk never saved while the run succeeds.
            if (file.empty()) return fail(arg + " wants a file name");
        } else if (arg == "--program") {
            if (!parseInteger(value(), 0, 1 << 20, number)) return fail("--program wants a program number");
            options.program = static_cast<int>(number);
        } else if (arg == "--param") {
            if (!parseParameter(value(), options, error)) return false;
        } else if (arg == "--block-size") {
            if (!parseInteger(value(), 1, 1 << 16, number))
                return fail("--block-size wants a number of samples from 1 to 65536");
            options.blockSize = static_cast<int>(number);
        } else if (arg == "--sample-rate") {
            if (!parseNumber(value(), real) || real < 1000.0 || real > 768000.0)
                return fail("--sample-rate wants a rate in Hz from 1000 to 768000");
            options.sampleRate = real;
        } else if (arg == "--format") {
            if (!parseFormat(value(), format)) return fail("--format wants 16, 24 or float");
            options.format = format;
        } else if (arg.rfind("--", 0) == 0) {
            return fail("unknown option " + arg);
        } else if (options.command.empty()) {
            if (arg.empty()) return fail("no command given");
            options.command = arg;
        } else if (arg.empty()) {
            return fail("an empty argument names no file");
        } else {
            options.files.push_back(arg);
        }
    }
    return options.command.empty() ? fail("no command given") : true;
}

}  // namespace velmorant::host
