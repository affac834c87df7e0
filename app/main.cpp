// main.cpp - the AOBench program: prints the banner, times one multi-threaded
// render of the AO test scene, and leaves the picture in "aomt.bmp" and the
// timing line in "AOBench.txt" (see AoBench::RunBenchmark).
//
// Standard output carries the banner and nothing else. A failure (a result
// file that cannot be written, worker threads that cannot be started, a
// banner that cannot be written, memory running out) is named in one line on
// standard error and makes the exit status 1: a run whose results were lost
// or would mislead must not look like a success.

#include "app/benchmark_run.h"

int main() { return AoBench::RunBenchmark(); }
