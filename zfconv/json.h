// json.h - a small JSON writer for zfconv's output (nothing reads JSON
// here).  Strings are written as valid UTF-8 whatever they hold: control
// characters (C0, DEL and C1) as \u00xx escapes, and each byte that is not
// part of valid UTF-8 as the six characters \\xNN (the text \xNN, as
// header text shows such bytes).
#ifndef ZEFA_ZFCONV_JSON_H
#define ZEFA_ZFCONV_JSON_H

#include <string>
#include <string_view>
#include <vector>

namespace zfconv {

// Appends `text` as a JSON string, quotes included.
void append_json_string(std::string &out, std::string_view text);

// Builds one document on a single line; commas and nesting are kept here.
class JsonWriter {
public:
    JsonWriter &begin_object();
    JsonWriter &end_object();
    JsonWriter &begin_array();
    JsonWriter &end_array();
    JsonWriter &key(std::string_view name);
    JsonWriter &value(std::string_view text);
    JsonWriter &value(const char *text) { return value(std::string_view(text)); }
    JsonWriter &value(long long number);
    JsonWriter &value(int number) { return value(static_cast<long long>(number)); }
    JsonWriter &value(bool yes);

    const std::string &text() const { return out_; }

private:
    void separate(); // the comma before a value or key that is not the first
    std::string out_;
    std::vector<bool> first_{true};
    bool after_key_ = false;
};

} // namespace zfconv

#endif
