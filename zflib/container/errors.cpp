// The library's error codes in English words, in one place.
#include "zefa.h"

#include <cstring>

extern "C" const char *zf_strerror(int code)
{
    switch (code) {
    case 0: return "no error";
    case ZF_ERR_EOF: return "the file ends too early";
    case ZF_ERR_FORMAT: return "not a ZEFA file, or a damaged one";
    case ZF_ERR_LIMIT: return "a picture or block has more pixels than the reader allows";
    case ZF_ERR_MISUSE: return "a call the library cannot take here (a null record or argument, a value outside its limits, or a call out of order)";
    case ZF_ERR_TEXT: return "a text holds a character with no Shift-JIS form, or bytes that are no UTF-8";
    default: break;
    }
    // strerror's buffer is shared between threads; strerrordesc_np gives
    // the fixed English text of every system error.
    const char *text = code > 0 ? strerrordesc_np(code) : nullptr;
    return text ? text : "unknown error";
}
