// benchmark_run.h - AoBench::RunBenchmark, the whole AOBench run: what the program's
// entry function does, callable from test programs as well.

#pragma once

namespace AoBench {

// Prints the banner, times one multi-threaded render of the AO test scene and
// leaves the picture in "aomt.bmp" and the timing line in "AOBench.txt", in
// the current folder. Returns the program's exit status: 0 when everything
// was done and written, else 1 after one line on standard error naming the
// cause. Standard output carries the banner and nothing else.
//
// A run on fewer than the four worker threads would measure something else:
// if not all of them start, nothing is rendered and neither file is written.
// A result file is either written whole or left as it was. Running out of
// memory on the calling thread ends the run with status 1 and a message;
// on a worker thread it ends the program (an uncaught bad_alloc).
int RunBenchmark();

}  // namespace AoBench
