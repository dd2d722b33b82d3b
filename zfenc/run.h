// run.h - how an encoder run ends, and the files it must not leave behind.
#ifndef ZFENC_RUN_H
#define ZFENC_RUN_H

#include "removal_guard.h"

// The output being written, with the private folder it is written in.
extern removal_guard output_guard;
// The converter's DJP file: removed at the end of every run.
extern removal_guard temporary_guard;

// Frees the comment and removes the temporary file.
void end_of_run();
// Ends the run with status 1 after the caller printed why; removes an
// output file that this run created and did not finish.
[[noreturn]] void fail_run();

#endif
