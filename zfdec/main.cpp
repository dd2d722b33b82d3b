// zfdec: turns a ZEFA file back into raw image files, prints its header,
// or answers its pixel ratio through the exit status.
#include "decoder.h"
#include "failure.h"
#include "names.h"
#include "removal_guard.h"
#include "zefa.h"
#include "zf_console.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>

dec_settings_t dec_settings;

[[noreturn]] void end_run(int status) { std::exit(status); }

namespace {

void dec_banner() { console_printf(stdout, "%s %s\n", "ZEFA Decoder for Win32/NT console v2.08", "(Linux native build)"); }

void dec_usage()
{
    for (const char *line : {"usage : ZFDEC {-opt} filename[.ZF] {outfile[.RGB]} {-opt}",
                             "  opt > -I              ZEFAﾍｯﾀﾞ詳細表示指示",
                             "        -P[n]           ｲﾒｰｼﾞﾌﾟﾛﾎﾟｰｼｮﾅﾙﾌｧｲﾙ指定",
                             "                          n: 0 FAL形式",
                             "                             1 IPR形式"})
        console_printf(stdout, "%s\n", console_text(line));
}

[[noreturn]] void name_too_long(const char *name)
{
    console_printf(stdout, "ﾌｧｲﾙ名が長すぎます: %s\n", name);
    std::exit(1);
}

int query_ratio(const char *name)
{
    zf_file *f = zf_open(name);
    if (!f) {
        console_print_error(nullptr);
        return 255;
    }
    zf_load_info(f);
    zf_close(f);
    if (dec_settings.ratio_packed)
        return ((zf_ratio_x << 4) | zf_ratio_y) & 0xFF;
    if (zf_ratio_y == 0)
        return 255;
    return static_cast<int>(static_cast<double>(zf_ratio_x) / zf_ratio_y * 100 + 0.5) & 0xFF;
}

// -I: the header in detail; a file that cannot be read is a failure.
int show_header(const char *name)
{
    zf_file *f = zf_open(name);
    if (!f) {
        console_print_error(nullptr);
        tell_failure_cause(name);
        return 1;
    }
    zf_load_info(f);
    console_show_header(f, 3);
    zf_close(f);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Past a file-size limit, writes fail with an error instead of ending
    // the program, so the failure is reported and cleaned up.
    std::signal(SIGXFSZ, SIG_IGN);
    remove_guarded_on_console_signals();
    handle_long_options(argc, argv);
    dec_banner();
    if (argc < 2) {
        dec_usage();
        return 1;
    }
    int first = 1;
    if (std::strncmp(argv[1], "DJ505J", 6) == 0) {
        dec_settings.djp_output = true;
        if (std::toupper(static_cast<unsigned char>(argv[1][6])) == 'M')
            dec_settings.djp_colour = false;
        first = 2;
    }
    bool input_seen = false, names_only = false; // after "--": a name may begin with '-'
    for (int i = first; i < argc; ++i) {
        if (!names_only && std::strcmp(argv[i], "--") == 0)
            names_only = true;
        else if (!names_only && argv[i][0] == '-')
            parse_option(argv[i]);
        else if (!input_seen) {
            take_name(dec_settings.input_name, argv[i], name_too_long);
            input_seen = true;
        } else
            take_name(dec_settings.output_name, argv[i], name_too_long);
    }
    if (dec_settings.input_name[0] == '\0') {
        console_printf(stdout, "%s\n", console_text("処理ﾌｧｲﾙ名を指定してください"));
        return 1;
    }
    add_extension(dec_settings.input_name, EXT_ZF, name_too_long);
    if (dec_settings.output_name[0] == '\0')
        take_name(dec_settings.output_name, name_default_output(dec_settings.input_name).c_str(), name_too_long);
    add_output_extension(dec_settings.output_name, EXT_RGB, name_too_long);
    build_colour_tables();

    switch (dec_settings.run_mode) {
    case RunMode::Header: return show_header(dec_settings.input_name);
    case RunMode::Query: return query_ratio(dec_settings.input_name);
    case RunMode::Decode: break;
    }
    // Writing an output over the input would destroy it while it is read.
    if (same_file(dec_settings.input_name, dec_settings.output_name)) {
        console_printf(stdout, "%s\n", console_text("出力ﾌｧｲﾙが入力ﾌｧｲﾙと同じです"));
        return 1;
    }
    return decode_file(dec_settings.input_name, dec_settings.output_name);
}
