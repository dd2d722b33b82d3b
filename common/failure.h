// failure.h - what the tools add, on lines of their own, to the library's
// fixed words when a run fails: the system's own words where those are only
// "an error occurred", and the file the failure concerns.
#ifndef ZEFA_COMMON_FAILURE_H
#define ZEFA_COMMON_FAILURE_H

// After console_print_error for zf_errno: the cause when the library's words do
// not say it, then the file (none when null), on standard error.
void tell_failure_cause(const char *file);

#endif
