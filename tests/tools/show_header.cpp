// show_header FILE MODE - prints a file's header as the decoder does
// (zf_show_header in the given mode), or with MODE "file" through
// zf_show_file.  Used by the display tests.
#include "zefa.h"
#include "zf_console.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    if (std::strcmp(argv[2], "file") == 0) {
        zf_show_file(argv[1]);
        return 0;
    }
    zf_file *f = zf_open(argv[1]);
    if (!f) {
        zf_print_error(argc > 3 ? argv[3] : nullptr);
        return 1;
    }
    zf_load_info(f);
    zf_show_header(f, std::atoi(argv[2]));
    return zf_close(f) == 0 ? 0 : 1;
}
