// zfenc: turns one raw or converted image into a ZEFA file.
#include "converter.h"
#include "encode.h"
#include "input.h"
#include "names.h"
#include "removal_guard.h"
#include "run.h"
#include "settings.h"
#include "worklog.h"
#include "zefa.h"
#include "zf_console.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>

enc_settings settings;

namespace {

const char *const kUsage[] = {
    "usage : ZFENC {-opt} filename[.RGB|.Q0] {outfile[.ZF]} {-opt}",
    "  opt > -m[n]              ｶﾗｰ選択",
    "                           n : 0 15bit color(ﾃﾞﾌｫﾙﾄ)",
    "                               1 24bit color",
    "                               2  8bit color",
    "        -2                 2 pass 高圧縮ﾓｰﾄﾞ",
    "        -astr              作者名指定",
    "                           str:18字以内の文字列",
    "        -b                 非圧縮ﾓｰﾄﾞ",
    "        -c{filename[.DOC]} ｺﾒﾝﾄﾌｧｲﾙ指定",
    "        -nseq              作品番号指定",
    "        -nh                作品番号を更新しない",
    "        -ti                ﾀｲﾄﾙ入力指示",
    "        -tn                ｺﾒﾝﾄﾌｧｲﾙの先頭行をﾀｲﾄﾙにしない",
    "        -tl                ﾀｲﾄﾙﾘｽﾄ表示のみ行う",
    "        -95                Plugin呼び出しをWin95/DOS互換形式で行う",
};

bool exists(const char *name)
{
    struct stat st{};
    return ::stat(name, &st) == 0;
}

// True when the file read as raw pixels is a ZEFA file: its magic at the
// start, or behind the optional 128-byte prefix.  A DJP or GLM file read
// from its own header cannot be one, and its palette may hold any bytes.
bool holds_zefa_file(const char *name, input_kind kind)
{
    unsigned char head[ZF_SNIFF_SIZE] = {};
    FILE *in = std::fopen(name, "rb");
    if (!in)
        return false;
    const std::size_t got = std::fread(head, 1, sizeof head, in);
    std::fclose(in);
    if (zf_sniff(head, std::min<std::size_t>(got, 4)) == 1) // the magic at the start
        return true;
    if (zf_sniff(head, got) != 1)
        return false;
    char header_file[NAME_SIZE];
    if (kind == INPUT_DJP || kind == INPUT_GLM)
        return companion_name(header_file, name, kind == INPUT_DJP ? EXT_DJP : EXT_GLM) != 0 ||
               !same_file(header_file, name);
    return true;
}

// A picture or document read as raw pixels would be noise too: one whose
// signature is unmistakable is refused, with the way to convert it.
void refuse_foreign_format(const char *name, input_kind kind)
{
    bool zfconv_reads = false;
    const char *format = settings.temporary_name[0] || kind == INPUT_DJP || kind == INPUT_GLM
                             ? nullptr
                             : foreign_format(name, &zfconv_reads);
    if (!format)
        return;
    console_printf(stdout, "%s は%sﾌｧｲﾙなのでｴﾝｺｰﾄﾞできません\n", name, format);
    if (zfconv_reads)
        console_printf(stdout, "zfconv で ZEFAﾌｧｲﾙに変換できます: zfconv %s %s\n", name, settings.output_name);
    else
        console_printf(stdout, "zfconv も読めない形式です: PNG などに変換してから zfconv で変換してください\n");
    fail_run();
}

} // namespace

int main(int argc, char **argv)
{
    // Past a file-size limit, writes fail with an error instead of ending
    // the program, so the failure is reported and cleaned up.
    std::signal(SIGXFSZ, SIG_IGN);
    remove_guarded_on_console_signals();
    handle_long_options(argc, argv);
    console_printf(stdout, "%s %s\n", ZFENC_BANNER, "(Linux native build)");
    if (argc < 2) {
        for (const char *line : kUsage)
            console_printf(stdout, "%s\n", console_text(line));
        return 1;
    }
    std::strcpy(settings.tag, "ZFSF");
    settings.depth = 15;
    settings.update_log = true;
    settings.work_number = log_next_number();

    bool names_only = false; // after "--": a path may begin with '/' or '-'
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!names_only && std::strcmp(arg, "--") == 0)
            names_only = true;
        else if (!names_only && (arg[0] == '-' || arg[0] == '/'))
            parse_option(arg);
        else if (!settings.input_seen) {
            take_name(settings.input_name, arg, name_too_long);
            settings.input_seen = true;
        } else {
            take_name(settings.output_name, arg, name_too_long);
        }
    }
    if (settings.list_requested) {
        print_title_list();
        return 0;
    }
    if (settings.input_name[0] == '\0')
        refuse("処理ﾌｧｲﾙ名を指定してください");
    add_extension(settings.input_name, EXT_RGB, name_too_long);
    std::string tried = settings.input_name;
    struct stat st{};
    if (::stat(settings.input_name, &st) != 0 || st.st_size == 48) {
        const std::string q0 = name_up_to_last_dot(settings.input_name) + EXT_Q0;
        take_name(settings.input_name, q0.c_str(), name_too_long);
        tried += ", " + q0;
    }
    if (!exists(settings.input_name)) {
        say("指定されたﾌｧｲﾙが見つかりません");
        console_printf(stdout, "対象ﾌｧｲﾙ: %s\n", tried.c_str());
        fail_run();
    }

    if (settings.output_name[0] == '\0')
        take_name(settings.output_name, name_default_output(settings.input_name).c_str(), name_too_long);
    add_output_extension(settings.output_name, EXT_ZF, name_too_long);

    if (settings.depth == 15)
        build_tables_15();
    if (settings.depth == 24) {
        build_tables_24();
        if (std::strcmp(settings.tag, "ZFBI") == 0)
            std::strcpy(settings.tag, "ZFBM");
    }

    if (settings.comment_requested) {
        if (settings.comment_name[0] == '\0')
            take_name(settings.comment_name, name_up_to_last_dot(settings.input_name).c_str(), name_too_long);
        add_extension(settings.comment_name, EXT_DOC, name_too_long);
        if (load_comment(settings.comment_name) != 0)
            fail_run();
    }
    if (settings.title_mode == TitleMode::Ask)
        ask_title();

    // Writing the output deletes what was there: never the user's input.
    if (same_file(settings.output_name, settings.input_name) ||
        (settings.comment_requested && same_file(settings.output_name, settings.comment_name)))
        refuse("出力ﾌｧｲﾙが入力ﾌｧｲﾙと同じです");

    const char *read_name = run_converter(settings.input_name);
    if (same_file(settings.output_name, read_name))
        refuse("出力ﾌｧｲﾙが入力ﾌｧｲﾙと同じです");
    input_geometry g{};
    const input_kind kind = detect_input(read_name, &g);
    // A converter that ended with success but wrote no DJP file has failed.
    if (settings.temporary_name[0] && kind != INPUT_DJP) {
        say("ﾌﾟﾗｸﾞｲﾝの出力がDJPﾌｧｲﾙではありません");
        fail_run();
    }
    // Its bytes as pixels would make a picture of noise.
    if (!settings.temporary_name[0] && holds_zefa_file(read_name, kind)) {
        console_printf(stdout, "%s はZEFAﾌｧｲﾙなのでｴﾝｺｰﾄﾞできません\n", read_name);
        fail_run();
    }
    refuse_foreign_format(read_name, kind);

    if (settings.depth == 8 && (kind != INPUT_DJP || reader.djp_type == 24)) {
        say(kind == INPUT_DJP ? "TYPE 0,8 DJPﾌｧｲﾙ以外では 8 bit ZEFAﾌｧｲﾙを生成できません"
                              : "RGB/Q0ﾌｧｲﾙからは 8 bit ZEFAﾌｧｲﾙを生成できません");
        fail_run();
    }
    if (g.width < 1 || g.width > ZF_MAX_BLOCK_WIDTH || g.height < 1 || g.height > ZF_MAX_BLOCK_HEIGHT) {
        console_printf(stdout, "画像の大きさ %d x %d は扱えません\n", g.width, g.height);
        fail_run();
    }

    console_printf(stdout, "Input file       : %s\n", read_name);
    if (settings.temporary_name[0]) // the converter's file stands for the user's
        console_printf(stdout, "Converted from   : %s\n", settings.input_name);
    std::printf("Image size       : %d x %d\n", g.width, g.height);
    if (settings.comment_requested)
        console_printf(stdout, "Comment file     : %s\n", settings.comment_name);
    console_printf(stdout, "Output file      : %s\n", settings.output_name);
    std::printf("Color bit depth  : %2d bits\n", settings.depth);
    const char *type = std::strcmp(settings.tag, "ZFSF") == 0   ? "Fast"
                       : std::strcmp(settings.tag, "ZFSS") == 0 ? "Optimizing"
                                                                 : "Uncompress";
    std::printf("Compression type : %s\n", type);
    std::fflush(stdout);

    const bool written = encode_image(read_name, kind, g, settings.output_name, settings.tag, settings.depth);
    if (written && settings.update_log) {
        console_printf(stderr, "Update log file..");
        if (log_append())
            console_printf(stderr, "\rcomplete.         \n");
    }
    end_of_run();
    if (written && settings.delete_input)
        std::remove(read_name);
    return 0;
}
