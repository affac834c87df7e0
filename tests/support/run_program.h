// RunProgram, which starts a built program as a child process for a test,
// without a shell, and collects its exit status and output.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace KavTest {

struct TProgramRun {
    bool started = false;   // the process was created
    bool timedOut = false;  // it ran past the limit and was killed
    int exitCode = -1;      // its exit status when it ended by itself, else -1
    std::string out;        // everything it wrote on standard output
    std::string err;        // everything it wrote on standard error
};

// Runs program with args in the folder workDir and waits at most
// timeoutSeconds for it to end; a program still running then is killed.
// Standard input is empty. Where the build runs its tests under an emulator
// (a cross build), the program runs under the same emulator. Output goes
// through files in workDir, which are removed again.
TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::filesystem::path& workDir, int timeoutSeconds = 240);

// text with every "\r\n" read as "\n": a console on Windows ends its lines
// with both.
std::string WithUnixLineEnds(const std::string& text);

// The emulator the tests of this build run under, empty for native builds.
std::vector<std::string> TestEmulator();

}  // namespace KavTest
