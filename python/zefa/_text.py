"""Header text: Shift-JIS (code page 932) as stored, str for Python.

Read as zfconv writes PNG text, so the two agree: every character whose
conversion comes back to the same bytes is converted; any other byte (no
character, one of the duplicate codes, a control byte other than TAB and
LF) reads as the four characters \\xHH, and a backslash that would start
such an escape reads \\x5C.  Written the other way: escapes give their
byte, the rest is converted to code page 932."""

import re

_ESCAPE = re.compile(rb"\\x[0-9A-Fa-f]{2}")
_STR_ESCAPE = re.compile(r"\\x([0-9A-Fa-f]{2})")


def _lead(b):
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC


def _trail(b):
    return 0x40 <= b <= 0xFC and b != 0x7F


def decode(raw):
    out = []
    i, n = 0, len(raw)
    while i < n:
        b = raw[i]
        if b < 0x80:
            if (b < 0x20 and b not in (9, 10)) or b == 0x7F or (b == 0x5C and _ESCAPE.match(raw, i)):
                out.append("\\x%02X" % b)
            else:
                out.append(chr(b))
            i += 1
            continue
        size = 2 if _lead(b) and i + 1 < n and _trail(raw[i + 1]) else 1
        ch = raw[i:i + size]
        try:
            text = ch.decode("cp932")
            ok = text.encode("cp932") == ch
        except UnicodeError:
            ok = False
        if ok:
            out.append(text)
            i += size
        else:
            # only the first byte: the next may start a character of its own
            out.append("\\x%02X" % b)
            i += 1
    return "".join(out)


def encode(text, what):
    """Shift-JIS bytes for a header text; bytes are taken as they are."""
    if isinstance(text, (bytes, bytearray)):
        return bytes(text)
    out = bytearray()
    pos = 0
    for m in _STR_ESCAPE.finditer(text):
        out += _encode_plain(text[pos:m.start()], what)
        out.append(int(m.group(1), 16))
        pos = m.end()
    out += _encode_plain(text[pos:], what)
    return bytes(out)


def _encode_plain(text, what):
    try:
        return text.encode("cp932")
    except UnicodeEncodeError as e:
        raise ValueError("the %s has a character without a Shift-JIS form: %r" % (what, e.object[e.start:e.end])) from None


def cut(sjis, limit):
    """The longest start within `limit` bytes that does not split a character."""
    i = 0
    while i < len(sjis):
        size = 2 if _lead(sjis[i]) and i + 1 < len(sjis) else 1
        if i + size > limit:
            break
        i += size
    return sjis[:i]
