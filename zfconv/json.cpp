#include "json.h"

#include "visible_text.h"

#include <cstdio>

namespace zfconv {

void append_json_string(std::string &out, std::string_view text)
{
    char buf[8];
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = zfcon::utf8_length(text.substr(i));
        if (n == 0) {
            std::snprintf(buf, sizeof buf, "\\\\x%02X", c);
            out += buf;
            ++i;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            // every control character as an escape, DEL and C1 too: no
            // reader needs them raw, and a terminal shown the output obeys them
            if (c < 0x20 || c == 0x7F) {
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
                out += buf;
            } else {
                out.append(text.substr(i, n));
            }
        }
        i += n;
    }
    out += '"';
}

void JsonWriter::separate()
{
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_.back())
        out_ += ',';
    first_.back() = false;
}

JsonWriter &JsonWriter::begin_object()
{
    separate();
    out_ += '{';
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::end_object()
{
    first_.pop_back();
    out_ += '}';
    return *this;
}

JsonWriter &JsonWriter::begin_array()
{
    separate();
    out_ += '[';
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::end_array()
{
    first_.pop_back();
    out_ += ']';
    return *this;
}

JsonWriter &JsonWriter::key(std::string_view name)
{
    separate();
    append_json_string(out_, name);
    out_ += ':';
    after_key_ = true;
    return *this;
}

JsonWriter &JsonWriter::value(std::string_view text)
{
    separate();
    append_json_string(out_, text);
    return *this;
}

JsonWriter &JsonWriter::value(long long number)
{
    separate();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter &JsonWriter::value(bool yes)
{
    separate();
    out_ += yes ? "true" : "false";
    return *this;
}

} // namespace zfconv
