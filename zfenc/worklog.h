// worklog.h - the work-number log ZFENC.LOG.
#ifndef ZFENC_WORKLOG_H
#define ZFENC_WORKLOG_H

int log_next_number();
// Appends the log line; false (after a warning naming the log) when it
// cannot be written.
bool log_append();
void print_title_list();

#endif
