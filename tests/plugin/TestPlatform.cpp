#include "TestPlatform.h"

#include <cstdio>
#include <cstdlib>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace velmorant::test {
namespace {

std::string readAll(std::FILE* pipe) {
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
    return text;
}

}  // namespace

#if defined(_WIN32)

ProgramRun runProgram(const std::string& program, const std::string& arguments) {
    // cmd.exe strips the outer quotes of a command line that starts with one.
    const std::string command = "\"\"" + program + "\" " + arguments + " 2>&1\"";
    ProgramRun run{-1, {}};
    std::FILE* pipe = ::_popen(command.c_str(), "rb");
    if (pipe == nullptr) return run;
    run.output = readAll(pipe);
    run.exitCode = ::_pclose(pipe);
    return run;
}

void setEnvironment(const char* name, const std::string& value) { ::_putenv_s(name, value.c_str()); }
void unsetEnvironment(const char* name) { ::_putenv_s(name, ""); }

#else

ProgramRun runProgram(const std::string& program, const std::string& arguments) {
    const std::string command = "'" + program + "' " + arguments + " 2>&1";
    ProgramRun run{-1, {}};
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    run.output = readAll(pipe);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void setEnvironment(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
void unsetEnvironment(const char* name) { ::unsetenv(name); }

#endif

}  // namespace velmorant::test
