#pragma once
// What the plug-in tests do differently on Linux and under Windows: running the host program and
// setting environment variables.

#include <string>

namespace velmorant::test {

struct ProgramRun {
    int exitCode;        // -1 when the program could not be run or did not exit normally
    std::string output;  // standard output and standard error together
};

// Runs `program` with `arguments` (already quoted where needed) through the system's shell.
ProgramRun runProgram(const std::string& program, const std::string& arguments);

void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);

}  // namespace velmorant::test
