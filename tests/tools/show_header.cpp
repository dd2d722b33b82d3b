// show_header FILE MODE - prints a file's header as the decoder does
// (console_show_header in the given mode).  Used by the display tests.
// (console_show_file is zfdec -i's, tested through the program.)
#include "zefa.h"
#include "zf_console.h"

#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    zf_file *f = zf_open(argv[1]);
    if (!f) {
        console_print_error(argc > 3 ? argv[3] : nullptr);
        return 1;
    }
    zf_load_info(f);
    console_show_header(f, std::atoi(argv[2]));
    return zf_close(f) == 0 ? 0 : 1;
}
