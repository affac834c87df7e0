// KAV_CONTRACT, the one way every layer of the framework stops the program
// when a caller breaks an operation's contract.
//
// A broken contract is a bug in the calling code (a slot index outside the
// table, a job queued on a stopped pool, a wait that would wait for itself),
// not a condition to recover from: going on would corrupt memory or hang.
// The check stays in every build, prints one line naming the broken rule and
// where it was checked on standard error, and aborts. Failures a caller can
// meet in a correct program (files, malformed input, a refused resource) are
// results instead, marked [[nodiscard]] where they must be acted on.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace KavV3Base {

#if defined(__GNUC__) || defined(__clang__)
[[gnu::format(printf, 3, 4)]]
#endif
[[noreturn]] inline void
ContractViolated(const char* file, int line, const char* rule, ...) {
    std::fputs("contract violated: ", stderr);
    va_list details;
    va_start(details, rule);
    std::vfprintf(stderr, rule, details);
    va_end(details);
    std::fprintf(stderr, " (%s:%d)\n", file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace KavV3Base

// Stops the program unless condition holds. rule is a printf format naming
// the broken rule, followed by its arguments.
#define KAV_CONTRACT(condition, ...)                                                      \
    do {                                                                                  \
        if (!(condition)) ::KavV3Base::ContractViolated(__FILE__, __LINE__, __VA_ARGS__); \
    } while (false)
