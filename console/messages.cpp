// The library's error messages: one text per error code, in one place.
#include "zefa.h"
#include "zf_console.h"

#include <cstdio>

namespace {

const char *message_for(int code)
{
    switch (code) {
    case 2: return "ファイルがありません";
    case 12: return "メモリが足りません";
    case 13: return "書き込みができません";
    case 28: return "ディスクが一杯です";
    case ZF_ERR_EOF: return "ファイルはもうありません";
    case ZF_ERR_FORMAT: return "フォーマットが未知または不正です";
    case ZF_ERR_LIMIT: return "画像が大きすぎます";
    default: return "エラーが発生しました";
    }
}

} // namespace

extern "C" void console_print_error(const char *detail)
{
    std::fflush(stdout); // keep the order of what the user sees
    if (detail)
        console_printf(stderr, "%s:%s\n", console_text(message_for(zf_errno)), console_text(detail));
    else
        console_printf(stderr, "%s\n", console_text(message_for(zf_errno)));
    std::fflush(stderr);
}
