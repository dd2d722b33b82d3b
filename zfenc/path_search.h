// path_search.h - finding files along directory lists.
#ifndef ZFENC_PATH_SEARCH_H
#define ZFENC_PATH_SEARCH_H

#include <cstdio>

// The file opened in mode ("s": only located), from the current directory,
// then the list named after its extension, then $PATH; found_dir (NAME_SIZE
// bytes), when given, receives the folder a list search found it in.
FILE *open_on_path(const char *name, const char *mode, char *found_dir);
// The same along one list of folders.
FILE *search_path_list(const char *list, const char *name, const char *mode, char *found_dir);

#endif
