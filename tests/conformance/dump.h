// dump.h - what a door shows of a picture, in the form the conformance
// driver (test_conformance.py) compares: one JSON line per file, the pixels
// as RGBA beside the file.  Header only: each dump program is built against
// one picture library.
#ifndef ZEFA_TESTS_CONFORMANCE_DUMP_H
#define ZEFA_TESTS_CONFORMANCE_DUMP_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace dump {

struct Shown {
    std::string error; // empty when the door showed a picture
    int width = 0, height = 0;
    std::vector<uint8_t> rgba; // a transparent pixel's colour is set to 0: doors may keep any there
    std::map<std::string, std::string> texts; // UTF-8
};

inline std::string quoted(const std::string &s)
{
    std::string out = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

// Writes the pixels to `file`.rgba.`tag` and prints the line.
inline void print(const std::string &file, const std::string &tag, Shown &shown)
{
    std::string line = "{\"file\": " + quoted(file);
    if (!shown.error.empty()) {
        line += ", \"error\": " + quoted(shown.error);
    } else {
        for (std::size_t i = 0; i + 3 < shown.rgba.size(); i += 4)
            if (shown.rgba[i + 3] == 0)
                shown.rgba[i] = shown.rgba[i + 1] = shown.rgba[i + 2] = 0;
        const std::string raw = file + ".rgba." + tag;
        if (std::FILE *f = std::fopen(raw.c_str(), "wb")) {
            std::fwrite(shown.rgba.data(), 1, shown.rgba.size(), f);
            std::fclose(f);
        }
        line += ", \"error\": null, \"width\": " + std::to_string(shown.width) +
                ", \"height\": " + std::to_string(shown.height) + ", \"rgba\": " + quoted(raw) + ", \"texts\": {";
        const char *sep = "";
        for (const auto &[key, value] : shown.texts) {
            line += sep + quoted(key) + ": " + quoted(value);
            sep = ", ";
        }
        line += "}";
    }
    std::printf("%s}\n", line.c_str());
}

} // namespace dump

#endif
