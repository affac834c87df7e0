// RunProgram over the host's process calls: fork and exec on POSIX systems,
// CreateProcess on Windows.

#include "tests/support/run_program.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace KavTest {

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#if defined(_WIN32)

// One argument quoted the way the C runtime's command-line parser reads it
// back: backslashes are literal except before a quote.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            quoted.append(backslashes * 2 + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

HANDLE OpenForChild(const fs::path& path, bool forWriting) {
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    return CreateFileW(path.wstring().c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Spawn(const std::vector<std::string>& argv, const fs::path& workDir, const fs::path& outPath,
           const fs::path& errPath, int timeoutSeconds, TProgramRun& run) {
    std::wstring commandLine;
    for (const std::string& argument : argv) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += QuoteArgument(fs::path(argument).wstring());
    }
    HANDLE in = OpenForChild(L"NUL", false);
    HANDLE out = OpenForChild(outPath, true);
    HANDLE err = OpenForChild(errPath, true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::wstring program = fs::path(argv.front()).wstring();
    const std::wstring folder = workDir.wstring();
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       folder.c_str(), &startup, &process)) {
        run.started = true;
        const DWORD limit = static_cast<DWORD>(timeoutSeconds) * 1000u;
        if (WaitForSingleObject(process.hProcess, limit) != WAIT_OBJECT_0) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, INFINITE);
        } else {
            DWORD code = 0;
            if (GetExitCodeProcess(process.hProcess, &code)) run.exitCode = static_cast<int>(code);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE handle : {in, out, err}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
}

#else

// The full name of a program found through PATH, as execvp would find it;
// looked up before fork, so that the child only calls what is safe there.
std::string FindInPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= folders.size()) {
        std::size_t end = folders.find(':', begin);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        begin = end + 1;
    }
    return name;
}

void Spawn(const std::vector<std::string>& argv, const fs::path& workDir, const fs::path& outPath,
           const fs::path& errPath, int timeoutSeconds, TProgramRun& run) {
    const std::string program = FindInPath(argv.front());
    std::vector<char*> args;
    for (const std::string& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    const std::string folder = workDir.string();
    const std::string outName = outPath.string();
    const std::string errName = errPath.string();

    const pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        // Only async-signal-safe calls from here to exec.
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(folder.c_str()) != 0)
            _exit(127);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    run.started = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= deadline) {
            run.timedOut = true;
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
}

#endif

}  // namespace

std::vector<std::string> TestEmulator() {
    std::vector<std::string> emulator;
#if defined(KAV_TEST_EMULATOR) && !defined(_WIN32)
    // A cross build's tests run under the emulator, and so must the programs
    // they start: the kernel cannot run the target's binaries itself. (A
    // Windows program under Wine starts Windows programs directly.)
    const std::string list = KAV_TEST_EMULATOR;
    std::size_t begin = 0;
    while (begin < list.size()) {
        std::size_t end = list.find('|', begin);
        if (end == std::string::npos) end = list.size();
        if (end > begin) emulator.push_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
#endif
    return emulator;
}

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const fs::path& workDir, int timeoutSeconds) {
    std::vector<std::string> argv = TestEmulator();
    argv.push_back(fs::absolute(program).string());
    argv.insert(argv.end(), args.begin(), args.end());

    // The output files live in a private folder, so that the program's own
    // folder holds only what the program made, and parallel runs never meet.
    std::random_device seed;
    fs::path scratch;
    do {
        scratch = fs::temp_directory_path() / ("kav_run_" + std::to_string(seed()) + std::to_string(seed()));
    } while (!fs::create_directory(scratch));
    const fs::path outPath = fs::absolute(scratch / "stdout.txt");
    const fs::path errPath = fs::absolute(scratch / "stderr.txt");
    TProgramRun run;
    Spawn(argv, fs::absolute(workDir), outPath, errPath, timeoutSeconds, run);
    run.out = ReadWhole(outPath);
    run.err = ReadWhole(errPath);
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return run;
}

std::string WithUnixLineEnds(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result += text[i];
    }
    return result;
}

}  // namespace KavTest
