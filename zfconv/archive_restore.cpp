// Restoring from the private chunk: the original file rebuilt, and proven
// to show the PNG's pixels before it is used.
#include "archive_parts.h"

#include "zefa.hpp"
#include "header_text.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zfconv {

// ---- restoring -------------------------------------------------------------

namespace {

// The lead with another comment section (Shift-JIS), as the library
// writes one, the first block's position moved to follow it.
bool lead_with_comment(const Bytes &lead, const std::string &comment, Bytes &out, std::string &error)
{
    void *data = nullptr;
    size_t size = 0;
    if (zf_replace_comment(lead.data(), lead.size(), comment.c_str(), &data, &size) != 0) {
        error = std::string("cannot write the comment: ") + zf_strerror(zf_errno);
        return false;
    }
    const std::unique_ptr<void, zefa::Freer> held(data);
    out.assign(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
    return true;
}

// Where each block of a restored file was put, and how the walk must meet it.
struct Placed {
    std::size_t at;
    int walk; // what zf_first_block / zf_next_block return there: 1 a block
              // the library decodes, 2 one of another coding
};

// colour_at for every pixel of one picture, without a call per pixel.
class Colours {
public:
    explicit Colours(const Image &img) : img_(img)
    {
        for (std::size_t i = 0; img.kind != Kind::rgb && i < table_.size(); ++i) {
            const std::size_t at = 3 * i;
            table_[i] = img.kind == Kind::grey ? static_cast<uint32_t>(i) * 0x010101u
                        : at + 2 < img.palette.size()
                            ? uint32_t{img.palette[at]} << 16 | uint32_t{img.palette[at + 1]} << 8 | img.palette[at + 2]
                            : 0;
        }
    }
    uint32_t operator[](std::size_t i) const
    {
        if (img_.kind != Kind::rgb)
            return table_[img_.pixels[i]];
        const uint8_t *p = &img_.pixels[3 * i];
        return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }

private:
    const Image &img_;
    std::array<uint32_t, 256> table_{};
};

// Whether `dec`, a decoded file, shows `pic`: every pixel in its colour
// (15-bit colours as a file of that depth shows them, when `depth` is 15),
// and a pixel nothing was decoded for only where the picture has a hole
// or shows what such a pixel shows.
bool shows_picture(const Image &dec, const Image &pic, int depth = 0)
{
    if (dec.width != pic.width || dec.height != pic.height)
        return false;
    const ValueMap fifteen(15, nullptr, 0);
    const Colours dec_colour(dec), pic_colour(pic);
    const std::size_t n = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height);
    for (std::size_t i = 0; i < n; ++i) {
        const bool hole = !pic.mask.empty() && pic.mask[i] == 0;
        const uint32_t got = dec_colour[i];
        uint32_t want = pic_colour[i];
        if (!dec.mask.empty() && dec.mask[i] == 0) {
            if (!hole && want != got)
                return false;
            continue;
        }
        if (depth == 15) {
            uint32_t v = 0;
            fifteen.value(want, v);
            want = shown_colour(15, v, nullptr, 0);
        }
        if (want != got)
            return false;
    }
    return true;
}

// The library's picture as zfconv's (8-bit files as indices and palette).
Image image_of(const zf_image &img)
{
    Image out;
    out.width = img.width;
    out.height = img.height;
    out.kind = img.format == ZF_INDEXED ? Kind::palette : Kind::rgb;
    const std::size_t n = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    out.pixels.assign(img.pixels, img.pixels + n * static_cast<std::size_t>(out.bytes_per_pixel()));
    if (out.kind == Kind::palette)
        out.palette.assign(img.palette, img.palette + 3 * ZF_PALETTE_MAX);
    if (img.mask)
        out.mask.assign(img.mask, img.mask + n);
    return out;
}

// The proof of a restored file (see restore_archive): empty when it holds,
// else why not.
std::string disproof(const Bytes &file, std::size_t lead_end, const std::vector<Placed> &placed, std::size_t tail_at,
                     const Archive &a, int depth, const Image &pic)
{
    zf_layout layout{};
    if (zf_get_layout(file.data(), file.size(), &layout) != 0 ||
        layout.first_block != static_cast<long long>(lead_end))
        return "its header does not lead to its first block";
    // The walk: the library moves from block to block by their lengths.
    {
        Record f(zf_open_memory(file.data(), file.size()));
        if (!f)
            return "its header cannot be read";
        std::size_t pos = lead_end;
        int r = zf_first_block(f.get());
        for (std::size_t i = 0; i < placed.size(); ++i) {
            long long at = 0, length = 0;
            if (r != placed[i].walk || pos != placed[i].at || zf_get_block_span(f.get(), &at, &length) != 0)
                return "block " + std::to_string(i) + " is not read as the chunk keeps it";
            pos += static_cast<std::size_t>(length);
            r = zf_next_block(f.get());
        }
        const bool ends_right =
            a.partly_drawn ? r == 1 && pos == tail_at &&
                                 std::memcmp(zf_get_block_header(f.get()), a.stopped_head.data(),
                                             ZF_BLOCK_HEADER_SIZE) == 0
            : a.sound_end  ? r == 0 && pos == tail_at
                           : r < 0 && pos >= tail_at;
        if (!ends_right)
            return "its last part is not read as the chunk says";
    }
    // The canvas before any pixel is allocated for it.
    {
        Record f(zf_open_memory(file.data(), file.size()));
        int w = 0, h = 0;
        if (!f || zf_picture_size(f.get(), &w, &h) != 0 || w != pic.width || h != pic.height)
            return "its picture is not the size of the PNG's";
    }
    // Decoded under the library's limits for a picture of the PNG's size.
    zf_limits limits{};
    limits.max_canvas = static_cast<long long>(pic.width) * pic.height;
    limits.max_work = archive_work_limit(pic.width, pic.height);
    zf_report report{};
    const zefa::Image decoded(zf_decode_memory(file.data(), file.size(), &limits, ZF_INDEXED, &report));
    if (!decoded)
        return zefa::words(report);
    const bool whole = a.sound_end && !a.partly_drawn;
    if ((report.status == ZF_DECODED_WHOLE) != whole ||
        (!whole && (report.block != static_cast<int>(placed.size()) ||
                    report.lines != (a.partly_drawn ? a.stopped_lines : 0))))
        return "it does not decode as far as the chunk says";
    const Image dec = image_of(*decoded);
    // Exactly: a restored file never passes off a nearby colour as the PNG's.
    if (!shows_picture(dec, pic))
        return depth == 15 && shows_picture(dec, pic, 15) ? "the picture holds colours a file of 15 bits cannot show"
                                                          : "it does not show the PNG's picture";
    return {};
}

// Every block drawn, in order, and which shows at each pixel (the last
// drawn there): the work is the blocks' area, which the chunk's limits
// bound, not blocks times canvas.
struct Coverage {
    std::vector<Rect> drawn;     // the stopped block's drawn lines last
    std::vector<long> drawn_of;  // per block of the chunk: its entry in drawn, or -1 (raw)
    std::vector<int32_t> top;    // per pixel: the entry in drawn that shows there, or -1
};

Coverage coverage(const Archive &a, long long W, long long H)
{
    Coverage c;
    c.drawn_of.assign(a.blocks.size(), -1);
    for (std::size_t i = 0; i < a.blocks.size(); ++i)
        if (a.blocks[i].kind != ArchiveBlock::raw) {
            c.drawn_of[i] = static_cast<long>(c.drawn.size());
            c.drawn.push_back(rect_of(a.blocks[i].head));
        }
    if (a.partly_drawn && a.stopped_lines > 0) {
        Rect s = rect_of(a.stopped_head);
        s.h = a.stopped_lines;
        c.drawn.push_back(s);
    }
    c.top.assign(static_cast<std::size_t>(W * H), -1);
    for (std::size_t d = 0; d < c.drawn.size(); ++d) {
        const Rect &rc = c.drawn[d];
        for (long long y = std::max(0LL, rc.y); y < std::min(H, rc.y + rc.h); ++y)
            for (long long x = std::max(0LL, rc.x); x < std::min(W, rc.x + rc.w); ++x)
                c.top[static_cast<std::size_t>(y * W + x)] = static_cast<int32_t>(d);
    }
    return c;
}

// The box around the pixels no block covered that changed: unchanged while
// they show the background (index 0, or black) or stay transparent.  x1 < 0
// when there are none.
void changed_uncovered(const Image &pic, const std::vector<int32_t> &top, uint32_t background, long long &x0,
                       long long &y0, long long &x1, long long &y1)
{
    const long long W = pic.width, H = pic.height;
    const Colours pic_colour(pic);
    for (long long y = 0; y < H; ++y)
        for (long long x = 0; x < W; ++x) {
            const auto i = static_cast<std::size_t>(y * W + x);
            if (top[i] >= 0 || (!pic.mask.empty() && pic.mask[i] == 0) || pic_colour[i] == background)
                continue;
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x);
            y1 = std::max(y1, y);
        }
}

// How a step of the restore ended: the next step may follow; the chunk
// does not give the picture back (set aside, with the reason); or the
// picture cannot be written as the chunk's file (an error for the user).
enum class Step { next, set_aside, refused };

const char *const palette_lacks_colour = "the picture holds a colour the file's palette lacks (give --depth 15 or 24)";

// One restore: the chunk, the picture and the options, and what the steps
// below work out from them in turn.
class Restore {
public:
    Restore(const Archive &a, const Image &pic, const Options &options, Restored &out, std::string &error)
        : a_(a), pic_(pic), options_(options), out_(out), error_(error), W_(pic.width), H_(pic.height)
    {
    }

    bool run();

private:
    Step check_chunk();
    Step check_coding();
    Step check_stopped_block();
    Step check_uncovered();
    Step blocks_to_code();
    void new_block_for_uncovered();
    Step code();
    Step lead_for_options(Bytes &lead_bytes);
    void assemble(Bytes lead_bytes);
    void judge_exactness();

    Step set_aside(const std::string &why)
    {
        reason_ = why;
        return Step::set_aside;
    }
    Step refuse(const std::string &why)
    {
        error_ = why;
        return Step::refused;
    }
    // A pixel of a drawn block shows when it is inside the canvas and no
    // later block is drawn over it.
    bool shows(std::size_t d, long long x, long long y) const
    {
        return x >= 0 && y >= 0 && x < W_ && y < H_ &&
               cover_.top[static_cast<std::size_t>(y * W_ + x)] == static_cast<int32_t>(d);
    }
    uint32_t shown(uint32_t value) const { return shown_colour(depth_, value, lead_.palette, ZF_PALETTE_MAX); }

    const Archive &a_;
    const Image &pic_;
    const Options &options_;
    Restored &out_;
    std::string &error_;
    const long long W_, H_;

    std::string reason_; // why the chunk is set aside
    LeadInfo lead_;
    int depth_ = 0;
    std::unique_ptr<ValueMap> map_;
    std::unique_ptr<PictureValues> values_;
    bool override_ = false;
    std::array<char, 4> override_tag_{};
    Coverage cover_;
    Bytes bare_; // the lead without its comment, to read blocks back behind
    // the box around changed pixels no block covered (x1 < 0: none)
    long long x0_ = 0, y0_ = 0, x1_ = -1, y1_ = -1;
    std::vector<BlockSource> to_code_;
    std::vector<std::size_t> coded_for_; // block index, or SIZE_MAX for a new block
    std::vector<std::vector<uint32_t>> kept_lines_;
    std::vector<Bytes> coded_;
    std::size_t lead_end_ = 0, tail_at_ = 0;
    std::vector<Placed> placed_;
};

// The chunk's lead is readable, of a depth the library writes, and the
// chunk is of this picture's size and could describe a real file.
Step Restore::check_chunk()
{
    if (!read_lead(a_.lead, lead_))
        return set_aside("it holds no readable ZEFA header");
    depth_ = lead_.info.depth;
    if ((depth_ != 8 && depth_ != 15 && depth_ != 24) || pic_.width != a_.width || pic_.height != a_.height)
        return set_aside("it is not of this picture");
    std::string why;
    if (!chunk_is_possible(a_, why))
        return set_aside(why);
    map_ = std::make_unique<ValueMap>(depth_, lead_.palette, ZF_PALETTE_MAX);
    values_ = std::make_unique<PictureValues>(pic_, *map_, picture_is_direct(pic_, depth_, lead_.palette));
    out_.pixels_match = pixel_digest(pic_) == a_.pixel_digest;
    // An RGB picture of few colours is written as a palette PNG, its digest
    // taken over the RGB picture.
    if (!out_.pixels_match && pic_.kind == Kind::palette)
        out_.pixels_match = pixel_digest(rgb_view(pic_)) == a_.pixel_digest;
    return Step::next;
}

Step Restore::check_coding()
{
    override_ = !options_.coding.empty();
    if (override_ && !coding_tag(options_.coding, depth_, override_tag_))
        return refuse("unknown coding " + options_.coding);
    return Step::next;
}

// The block decoding stopped in keeps its bytes: its drawn lines must be
// as they were.
Step Restore::check_stopped_block()
{
    if (!a_.partly_drawn || a_.stopped_lines <= 0)
        return Step::next;
    if (a_.tail.size() < ZF_BLOCK_HEADER_SIZE ||
        !std::equal(a_.stopped_head.begin(), a_.stopped_head.end(), a_.tail.begin()))
        return set_aside("its damaged block is not where it says");
    std::vector<uint32_t> old;
    int width = 0;
    Bytes file = bare_;
    file.insert(file.end(), a_.tail.begin(), a_.tail.end());
    const int lines = first_block_lines(file, old, width, a_.stopped_lines);
    const Rect rc = cover_.drawn.back();
    if (lines < a_.stopped_lines || width != rc.w)
        return set_aside("it does not match its damaged block");
    for (long long row = 0; row < rc.h; ++row)
        for (long long c = 0; c < rc.w; ++c) {
            const long long x = rc.x + c, y = rc.y + row;
            if (!shows(cover_.drawn.size() - 1, x, y))
                continue;
            const uint32_t was = shown(old[static_cast<std::size_t>(row * width + c)]);
            if (colour_at(pic_, static_cast<std::size_t>(y * W_ + x)) != was)
                return refuse("pixels the damaged file's last block drew were changed; they cannot be written back "
                              "without dropping the rest of that block (give --depth to write a new file)");
        }
    return Step::next;
}

// Changed pixels no block covered get a new block, which a damaged file
// would only have after the damage, where nothing is read.
Step Restore::check_uncovered()
{
    x0_ = W_;
    y0_ = H_;
    changed_uncovered(pic_, cover_.top, shown(0), x0_, y0_, x1_, y1_);
    if (x1_ >= 0 && !a_.sound_end)
        return refuse("pixels no block of the damaged file covered were changed; a block for them would come after "
                      "the damage, where nothing is read (give --depth to write a new file)");
    return Step::next;
}

// Each drawn block's new lines: the picture where it shows, what it held
// elsewhere.
Step Restore::blocks_to_code()
{
    kept_lines_.resize(a_.blocks.size());
    const PictureValues &values = *values_;
    for (std::size_t i = 0; i < a_.blocks.size(); ++i) {
        const ArchiveBlock &b = a_.blocks[i];
        if (b.kind == ArchiveBlock::raw)
            continue;
        const auto d = static_cast<std::size_t>(cover_.drawn_of[i]);
        const Rect rc = cover_.drawn[d];
        BlockSource src;
        std::copy_n(b.head.data(), 4, src.tag.begin());
        if (override_)
            src.tag = override_tag_;
        src.x = static_cast<int>(rc.x);
        src.y = static_cast<int>(rc.y);
        src.width = static_cast<int>(rc.w);
        src.height = static_cast<int>(rc.h);
        if (b.kind == ArchiveBlock::rebuilt) {
            for (long long y = rc.y; y < rc.y + rc.h; ++y)
                for (long long x = rc.x; x < rc.x + rc.w; ++x)
                    if (!shows(d, x, y))
                        return set_aside("a block it rebuilds does not show whole");
            src.fill = [&values, rc](int row, uint32_t *line) {
                for (int c = 0; c < rc.w; ++c)
                    if (!values.value(static_cast<int>(rc.x) + c, static_cast<int>(rc.y) + row, line[c]))
                        return false;
                return true;
            };
        } else {
            // An unchanged picture keeps every stored block's bytes as they
            // are, without decoding them again here: a damaged payload may
            // decode differently on its own than with the bytes that
            // followed it.  (The file made is decoded whole at the end.)
            if (out_.pixels_match && !override_)
                continue;
            std::vector<uint32_t> old;
            int width = 0;
            if (first_block_lines(mini_file(bare_, b.head, b.payload), old, width) != rc.h || width != rc.w)
                return set_aside("a block it keeps cannot be read");
            std::vector<uint32_t> now = old;
            for (long long row = 0; row < rc.h; ++row)
                for (long long c = 0; c < rc.w; ++c) {
                    const long long x = rc.x + c, y = rc.y + row;
                    if (!shows(d, x, y))
                        continue;
                    uint32_t &v = now[static_cast<std::size_t>(row * rc.w + c)];
                    const uint32_t hint = v;
                    if (!values.value(static_cast<int>(x), static_cast<int>(y), v, &hint))
                        return refuse(palette_lacks_colour);
                }
            if (now == old && !override_)
                continue; // its stored bytes stay
            kept_lines_[i] = std::move(now);
            const std::vector<uint32_t> *lines = &kept_lines_[i];
            src.fill = [lines, rc](int row, uint32_t *line) {
                std::copy_n(lines->data() + row * rc.w, rc.w, line);
                return true;
            };
        }
        to_code_.push_back(std::move(src));
        coded_for_.push_back(i);
    }
    return Step::next;
}

void Restore::new_block_for_uncovered()
{
    if (x1_ < 0)
        return;
    std::array<char, 4> tag{};
    if (!override_)
        coding_tag("fast", depth_, tag);
    const PictureValues &values = *values_;
    for (BlockSource &t :
         tiles(static_cast<int>(x1_ - x0_ + 1), static_cast<int>(y1_ - y0_ + 1), override_ ? override_tag_ : tag)) {
        t.x += static_cast<int>(x0_);
        t.y += static_cast<int>(y0_);
        fill_from(t, values);
        to_code_.push_back(std::move(t));
        coded_for_.push_back(SIZE_MAX);
    }
    out_.notes.push_back("pixels no block covered were changed: written as a new block");
}

Step Restore::code()
{
    if (const Built built = code_blocks(params_of(lead_), to_code_, coded_, error_); built != Built::ok) {
        if (built == Built::colour_missing)
            error_ = palette_lacks_colour;
        return Step::refused;
    }
    return Step::next;
}

// The lead, with the texts and ratio the options give.
Step Restore::lead_for_options(Bytes &lead_bytes)
{
    lead_bytes = a_.lead;
    std::string title, artist;
    zf_header_edit edit{};
    const auto text = [this](const std::string &utf8, std::size_t width, const TextSource &source, std::string &sjis,
                             const char *&field, std::size_t &length) {
        if (!header_text(utf8, width, source, options_.text_fallback, sjis, out_.notes, error_))
            return false;
        field = sjis.data();
        length = sjis.size();
        return true;
    };
    if ((options_.has_title &&
         !text(options_.title, 30, {"title", "option --title"}, title, edit.title, edit.title_length)) ||
        (options_.has_artist &&
         !text(options_.artist, 18, {"artist", "option --artist"}, artist, edit.artist, edit.artist_length)))
        return Step::refused;
    if (options_.ratio_x > 0 && options_.ratio_y > 0) {
        edit.ratio_x = options_.ratio_x;
        edit.ratio_y = options_.ratio_y;
    }
    if (zf_edit_header(lead_bytes.data(), lead_bytes.size(), &edit) != 0)
        return refuse(std::string("cannot set the header's fields: ") + zf_strerror(zf_errno));
    if (options_.has_comment) {
        // the library writes the comment section, line ends and all
        Bytes with;
        std::string comment;
        if (!header_text(options_.comment, 0, TextSource{"comment", "option --comment"}, options_.text_fallback,
                         comment, out_.notes, error_) ||
            !lead_with_comment(lead_bytes, comment, with, error_))
            return Step::refused;
        lead_bytes = std::move(with);
    }
    return Step::next;
}

// Everything in file order, each block's place kept for the proof.
void Restore::assemble(Bytes lead_bytes)
{
    Bytes &file = out_.file;
    file = std::move(lead_bytes);
    lead_end_ = file.size();
    placed_.reserve(a_.blocks.size() + coded_.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < a_.blocks.size(); ++i) {
        const ArchiveBlock &b = a_.blocks[i];
        placed_.push_back(Placed{file.size(), b.kind == ArchiveBlock::raw ? 2 : 1});
        if (next < coded_for_.size() && coded_for_[next] == i) {
            // the stored header, with the tag it was coded with and its new length
            Bytes block = b.head;
            const Bytes &c = coded_[next++];
            zf_block head{}, coded{};
            zf_read_block_header(block.data(), block.size(), &head, nullptr);
            zf_read_block_header(c.data(), c.size(), &coded, nullptr);
            std::memcpy(head.tag, coded.tag, sizeof head.tag);
            zf_write_block_header(block.data(), block.size(), &head, static_cast<long long>(c.size()));
            file.insert(file.end(), block.begin(), block.end());
            file.insert(file.end(), c.begin() + ZF_BLOCK_HEADER_SIZE, c.end());
        } else if (b.kind == ArchiveBlock::raw) {
            file.insert(file.end(), b.payload.begin(), b.payload.end());
        } else {
            file.insert(file.end(), b.head.begin(), b.head.end());
            file.insert(file.end(), b.payload.begin(), b.payload.end());
        }
    }
    for (; next < coded_.size(); ++next) {
        placed_.push_back(Placed{file.size(), 1});
        file.insert(file.end(), coded_[next].begin(), coded_[next].end());
    }
    tail_at_ = file.size();
    file.insert(file.end(), a_.tail.begin(), a_.tail.end());
}

void Restore::judge_exactness()
{
    const Bytes &file = out_.file;
    out_.exact = file.size() == a_.file_size && sha256(file.data(), file.size()) == a_.file_digest;
    if (out_.pixels_match && !out_.exact && x1_ < 0 && !options_.has_title && !options_.has_artist &&
        !options_.has_comment && options_.ratio_x == 0 && !override_)
        out_.notes.push_back("the picture is unchanged, but the file could not be rebuilt byte for byte: written "
                             "with its header and the picture");
}

bool Restore::run()
{
    out_ = Restored{};
    const auto ended = [this](Step s) {
        if (s == Step::set_aside) {
            out_.file.clear();
            out_.exact = false;
            out_.notes.clear();
            out_.unproven = reason_;
        }
        return s != Step::refused;
    };
    Step s = check_chunk();
    if (s == Step::next)
        s = check_coding();
    if (s != Step::next)
        return ended(s);
    cover_ = coverage(a_, W_, H_);
    // Blocks are read back one by one behind the header and palette alone:
    // the comment, however long, is not copied for each.
    if (!lead_with_comment(a_.lead, "", bare_, error_))
        return false;
    for (Step (Restore::*step)() : {&Restore::check_stopped_block, &Restore::check_uncovered, &Restore::blocks_to_code})
        if ((s = (this->*step)()) != Step::next)
            return ended(s);
    new_block_for_uncovered();
    Bytes lead_bytes;
    if ((s = code()) != Step::next || (s = lead_for_options(lead_bytes)) != Step::next)
        return ended(s);
    assemble(std::move(lead_bytes));
    reason_ = disproof(out_.file, lead_end_, placed_, tail_at_, a_, depth_, pic_);
    if (!reason_.empty())
        return ended(Step::set_aside);
    judge_exactness();
    return true;
}

} // namespace

bool file_shows_picture(const Bytes &file, const Image &pic)
{
    const zefa::Image decoded(zf_decode_memory(file.data(), file.size(), nullptr, ZF_INDEXED, nullptr));
    return decoded && shows_picture(image_of(*decoded), pic);
}

bool restore_archive(const Archive &a, const Image &pic, const Options &options, Restored &out, std::string &error)
{
    return Restore(a, pic, options, out, error).run();
}

} // namespace zfconv
