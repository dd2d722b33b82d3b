// spawn.h - starting another program and waiting for it.
#ifndef ZFENC_SPAWN_H
#define ZFENC_SPAWN_H

#include <string>
#include <vector>

// Runs the program at path with the argument list (argument 0 first, which
// may be empty) and waits for it.  Returns its exit status, or -1 when it
// could not be started or did not exit normally.
int run_program(const std::string &path, const std::vector<std::string> &args);

// The folder of the running program, or an empty text.
std::string program_folder();

#endif
