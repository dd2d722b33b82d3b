#include "zfdec_driver.h"

#include "support.h"
#include "zefa.h"
#include "zf_console.h"

#include <cstdio>
#include <cstdlib>

dec_settings_t dec_settings;

namespace zfuzz {

int run_zfdec(const uint8_t *data, size_t size, const dec_settings_t &settings, std::string &out)
{
    static const bool tables_built = (build_colour_tables(), true);
    (void)tables_built;
    char *buffer = nullptr;
    size_t length = 0;
    FILE *sink = open_memstream(&buffer, &length);
    if (!sink)
        std::abort();
    dec_settings = settings;
    dec_settings.sink = sink;
    int status = 1;
    if (zf_file *f = zf_open_memory(data, size)) {
        zf_set_pixel_limit(f, kPixelLimit);
        status = decode_record(f, "OUT.RGB");
    } else {
        console_print_error(nullptr);
    }
    std::fclose(sink);
    out.assign(buffer, length);
    std::free(buffer);
    return status;
}

} // namespace zfuzz
