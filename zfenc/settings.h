// settings.h - the encoder's run settings, and the operations that fill
// them from the command line and the comment file.
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

// help.cpp: --help and --version anywhere on the line print and exit 0.
void handle_long_options(int argc, char **argv);

// options.cpp
void say(const char *text);               // a message line on standard output
[[noreturn]] void refuse(const char *text); // say it and fail the run
[[noreturn]] void name_too_long(const char *name); // the refusal of take_name and add_extension
void parse_option(const char *arg);

// comment.cpp
int load_comment(const char *name);
void ask_title();
void default_author(char *author, std::size_t size);

#endif
