// batch.h - conversions as the command line asks for them: one input to
// one output, or many inputs into a folder on a pool of threads.
#ifndef ZEFA_ZFCONV_BATCH_H
#define ZEFA_ZFCONV_BATCH_H

#include "cli.h"

namespace zfconv {

// INPUT OUTPUT and -o: the exit status (0, or 1 with the message told).
int convert_single(const Command &cmd);

// -d: every input into the folder, each conversion on its own, a progress
// line on a terminal, a summary and every failure at the end.  The exit
// status: 0 when every file converted, 1 otherwise, 2 when two inputs
// would write one output (then nothing is written).
int convert_batch(const Command &cmd);

} // namespace zfconv

#endif
