// --info and --json: every header field, and each block walked and decoded
// on the library's per-record calls, so that a damaged file is described
// as far as it reads.
#include "info.h"

#include "files.h"
#include "image.h"
#include "json.h"
#include "readers.h"
#include "visible_text.h"

#include "zefa.hpp"

#include <cstdio>
#include <ctime>
#include <map>
#include <string_view>

namespace zfconv {
namespace {

using zefa::Record;

struct BlockInfo {
    std::string tag;  // as UTF-8, odd bytes as \xNN
    bool known = false; // a coding the library decodes; else no geometry
    zf_block geometry{};
    bool decodes = false;
    int lines = 0;    // lines decoded before a failure
    int error = 0;    // why it does not decode
};

struct FileInfo {
    bool unreadable = false; // the file or its header cannot be read: why, in words,
    std::string read_error;  // ...
    int error = 0;           // ... and as the library's number (0: not the library's)
    zf_info header{};
    // the header's texts as the library gives them (UTF-8, control
    // characters as themselves), by their JSON names
    std::map<std::string, std::string, std::less<>> texts;
    std::vector<BlockInfo> blocks;
    bool complete = false;   // the walk reached the end marker
    int walk_error = 0;      // why it did not

    bool sound() const
    {
        if (unreadable || !complete)
            return false;
        for (const BlockInfo &b : blocks)
            if (b.known && !b.decodes)
                return false;
        return true;
    }

    std::string text(std::string_view json_name) const
    {
        const auto it = texts.find(json_name);
        return it == texts.end() ? std::string() : it->second;
    }
};

// Decodes the current block whole; false with zf_errno set.
bool decode_block(zf_file *f, BlockInfo &b)
{
    if (zf_begin_read(f) != 0)
        return false;
    uint32_t *line = nullptr;
    for (;;) {
        const int r = zf_line(f, &line);
        if (r == -2)
            return true;
        if (r < 0)
            return false;
        b.lines = r + 1;
    }
}

// A fresh record walked to the block after `count` blocks (a record that
// met damage keeps it and walks no further).
Record walk_past(const Bytes &data, int count, int &r)
{
    Record f(zf_open_memory(data.data(), data.size()));
    r = f ? zf_first_block(f.get()) : -1;
    for (int i = 0; f && i < count && r > 0; ++i)
        r = zf_next_block(f.get());
    return f;
}

FileInfo describe(const Bytes &data)
{
    FileInfo info;
    Record f(zf_open_memory(data.data(), data.size()));
    if (!f) {
        info.unreadable = true;
        info.error = zf_errno;
        const Format format = sniff(data.data(), data.size());
        info.read_error = format != Format::unknown && format != Format::zefa
                              ? std::string("a ") + format_name(format) + " picture, not a ZEFA file"
                              : zf_strerror(info.error);
        return info;
    }
    zf_get_info(f.get(), &info.header);
    const zefa::Texts texts(zf_get_texts(f.get(), nullptr));
    for (const zf_text_entry *t = texts.get(); t && t->json; ++t)
        info.texts.emplace(t->json, t->value);

    int r = zf_first_block(f.get());
    for (int index = 0;; ++index) {
        if (r == 0) {
            info.complete = true;
            break;
        }
        if (r < 0) {
            info.walk_error = zf_errno;
            break;
        }
        BlockInfo b;
        zf_block head{};
        const bool read = zf_get_block(f.get(), &head) == 0;
        b.tag = zefa::to_utf8(std::string_view(head.tag, 4)); // as stored, 0 bytes included
        b.known = r == 1 && read;
        if (b.known)
            b.geometry = head;
        if (b.known) {
            zf_set_pixel_limit(f.get(), kMaxPixels); // a tiny file may claim hours of decoding
            b.decodes = decode_block(f.get(), b);
            if (!b.decodes) {
                b.error = zf_errno;
                f = walk_past(data, index, r);
            }
        }
        info.blocks.push_back(b);
        r = f ? zf_next_block(f.get()) : -1;
    }
    return info;
}

std::string local_date(uint32_t time)
{
    const auto t = static_cast<std::time_t>(time);
    std::tm tm{};
    char when[40] = "";
    if (localtime_r(&t, &tm))
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", &tm);
    return when;
}

// The first thing wrong, for the one line on standard error.
std::string first_fault(const FileInfo &info)
{
    if (info.unreadable)
        return info.read_error;
    for (std::size_t i = 0; i < info.blocks.size(); ++i) {
        const BlockInfo &b = info.blocks[i];
        if (b.known && !b.decodes)
            return "block " + std::to_string(i) + " stops after " + std::to_string(b.lines) + " of " +
                   std::to_string(b.geometry.height) + " lines: " + zf_strerror(b.error);
    }
    return "block " + std::to_string(info.blocks.size()) + " cannot be read: " + zf_strerror(info.walk_error);
}

void print_text(const char *label, const std::string &utf8)
{
    const std::string text = zfcon::visible_utf8(utf8);
    std::printf("  %-14s", label);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        std::printf("%.*s\n  %-14s", static_cast<int>(end - start), text.c_str() + start, "");
    std::printf("%s\n", text.c_str() + start);
}

void print_for_people(const std::string &name, const FileInfo &info)
{
    const zf_info &h = info.header;
    std::printf("%s\n", zfcon::visible_utf8(name).c_str());
    print_text("artist:", info.text("artist"));
    print_text("subtitle:", info.text("subtitle"));
    print_text("title:", info.text("title"));
    print_text("saver:", info.text("saver"));
    std::printf("  %-14s%d\n", "number:", h.number);
    std::printf("  %-14s%s\n", "date:", local_date(h.time).c_str());
    std::printf("  %-14s%d bits\n", "depth:", h.depth);
    std::printf("  %-14s%d:%d\n", "pixel ratio:", h.ratio_x, h.ratio_y);
    std::printf("  %-14s%d x %d\n", "image size:", h.max_width, h.max_height);
    if (h.n_pal > 0)
        std::printf("  %-14s%d entries\n", "palette:", h.n_pal);
    else
        std::printf("  %-14snone\n", "palette:");
    print_text("comment:", info.text("comment"));
    for (std::size_t i = 0; i < info.blocks.size(); ++i) {
        const BlockInfo &b = info.blocks[i];
        const std::string label = "block " + std::to_string(i) + ":";
        std::printf("  %-14s%s", label.c_str(), zfcon::visible_utf8(b.tag).c_str());
        if (!b.known) {
            std::printf(", a coding this program does not know\n");
            continue;
        }
        const zf_block &g = b.geometry;
        std::printf(" at %d,%d, %d x %d, ", g.x, g.y, g.width, g.height);
        if (b.decodes)
            std::printf("decodes\n");
        else
            std::printf("stops after %d of %d lines: %s\n", b.lines, g.height, zf_strerror(b.error));
    }
    if (!info.complete)
        std::printf("  %-14sblock %zu cannot be read: %s\n", "end:", info.blocks.size(), zf_strerror(info.walk_error));
}

void error_fields(JsonWriter &j, int code, const std::string &words)
{
    j.key("error").value(words);
    if (code != 0)
        j.key("error_code").value(code);
}

std::string as_json(const std::string &name, const FileInfo &info)
{
    JsonWriter j;
    j.begin_object().key("file").value(name).key("ok").value(info.sound());
    if (info.unreadable) {
        error_fields(j, info.error, info.read_error);
        return j.end_object().text();
    }
    const zf_info &h = info.header;
    j.key("artist").value(info.text("artist"));
    j.key("subtitle").value(info.text("subtitle"));
    j.key("title").value(info.text("title"));
    j.key("saver").value(info.text("saver"));
    j.key("number").value(h.number);
    j.key("time").value(static_cast<long long>(h.time));
    j.key("date").value(info.text("date"));
    j.key("depth").value(h.depth);
    j.key("ratio_x").value(h.ratio_x).key("ratio_y").value(h.ratio_y);
    j.key("width").value(h.max_width).key("height").value(h.max_height);
    j.key("palette_entries").value(h.n_pal);
    j.key("comment").value(info.text("comment"));
    j.key("blocks").begin_array();
    for (std::size_t i = 0; i < info.blocks.size(); ++i) {
        const BlockInfo &b = info.blocks[i];
        j.begin_object().key("number").value(static_cast<long long>(i)).key("tag").value(b.tag);
        if (b.known) {
            const zf_block &g = b.geometry;
            j.key("x").value(g.x).key("y").value(g.y).key("width").value(g.width).key("height").value(g.height);
        }
        j.key("decodes").value(b.decodes);
        if (!b.known)
            j.key("error").value("a coding this program does not know");
        else if (!b.decodes) {
            j.key("lines_decoded").value(b.lines);
            error_fields(j, b.error, zf_strerror(b.error));
        }
        j.end_object();
    }
    j.end_array();
    j.key("complete").value(info.complete);
    if (!info.complete)
        error_fields(j, info.walk_error, zf_strerror(info.walk_error));
    return j.end_object().text();
}

} // namespace

std::string info_json(const std::string &name, const std::vector<uint8_t> &data)
{
    return as_json(name, describe(data));
}

int print_info(const std::vector<std::string> &files, bool json)
{
    int status = 0;
    bool first = true;
    for (const std::string &file : files) {
        const std::string name = shown_input(file);
        Bytes data;
        std::string error;
        FileInfo info;
        if (!read_input(file, data, error)) {
            info.unreadable = true;
            info.read_error = error;
        } else {
            info = describe(data);
        }
        if (json)
            std::printf("%s\n", as_json(file, info).c_str());
        else if (!info.unreadable) {
            std::printf(first ? "" : "\n");
            print_for_people(name, info);
            first = false;
        }
        std::fflush(stdout);
        if (!info.sound()) {
            std::fprintf(stderr, "zfconv: %s: %s\n", zfcon::visible_utf8(name).c_str(),
                         zfcon::visible_utf8(first_fault(info)).c_str());
            status = 1;
        }
    }
    return status;
}

} // namespace zfconv
