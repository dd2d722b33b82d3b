// settings.h - the encoder's run settings and the operations of its parts.
#ifndef ZFENC_SETTINGS_H
#define ZFENC_SETTINGS_H

#include "names.h"

#include <cstdint>
#include <cstdio>

inline constexpr const char ZFENC_BANNER[] = "ZEFA Encoder for Win32/NT console v2.09";
inline constexpr const char ZFENC_SAVER[] = "ZF Encoder v2.09/W32*/Q.Vex";
inline constexpr std::size_t AUTHOR_LIMIT = 18; // bytes of the -a text, as stored
inline constexpr std::size_t TITLE_SIZE = 300;
inline constexpr std::size_t TITLE_FIELD = 30;  // what the file header keeps
inline constexpr std::size_t AUTHOR_FIELD = 18;
inline constexpr std::size_t SUBTITLE_FIELD = 8;

enum class TitleMode { FirstCommentLine = 0, None = 1, Ask = 2 };
enum class CallForm { Normal, Compatible };

struct enc_settings {
    char input_name[NAME_SIZE];
    char output_name[NAME_SIZE];
    char comment_name[NAME_SIZE];
    char temporary_name[NAME_SIZE];
    char author[AUTHOR_FIELD + 1 + 64];
    char title[TITLE_SIZE];
    char tag[5];
    int depth;
    int work_number;
    TitleMode title_mode;
    bool comment_requested;
    bool list_requested;
    bool list_formatter;
    bool update_log;
    CallForm call_form;
    bool delete_input;
    bool input_seen;
    char *comment; // the loaded comment text (Shift-JIS), or null
};

extern enc_settings settings;

// Ends the run with status 1 after the caller printed why; removes an
// output file that this run created and did not finish.
[[noreturn]] void fail_run();

// help.cpp: --help and --version anywhere on the line print and exit 0.
void handle_long_options(int argc, char **argv);

// options.cpp
void say(const char *text);               // a message line on standard output
[[noreturn]] void refuse(const char *text); // say it and fail the run
[[noreturn]] void name_too_long(const char *name); // the refusal of take_name and add_extension
void parse_option(const char *arg);

// The output file being written: removed by fail_run and on the signals
// that end the program, so no half-written output is left behind; with it
// the private folder it is written in, when there is one.
void guard_output(const char *name, const char *folder = nullptr);
void release_output();
// The temporary name is complete in settings: removed on those signals too.
void guard_temporary();

// comment.cpp
int load_comment(const char *name);
void ask_title();
void default_author(char *author, std::size_t size);

// converter.cpp and path_search.cpp
const char *run_converter(const char *input_name);
FILE *open_on_path(const char *name, const char *mode, char *found_dir);
FILE *search_path_list(const char *list, const char *name, const char *mode, char *found_dir);

// worklog.cpp
int log_next_number();
// Appends the log line; false (after a warning naming the log) when it
// cannot be written.
bool log_append();
void print_title_list();

// input.cpp: see input.h.  encode.cpp:
// Encodes the input into the output; true when the output is complete,
// false when ESC stopped it (failures end the run).
bool encode_image(const char *read_name, const char *output_name, const char *tag, int depth);

#endif
