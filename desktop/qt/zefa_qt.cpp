// The Qt image plugin for ZEFA files: every Qt 5 and Qt 6 program that
// reads pictures through QImageReader (KDE's viewers and thumbnailer among
// them) shows ZEFA files.  It reads only.  One source builds for both.
//
// The handler takes the device's bytes once (from a file, a pipe or any
// sequential device) and answers the size from the block headers without
// decoding.  Pixels: palette indices with the colour table for 8-bit files,
// RGB888 for 15- and 24-bit files; a damaged file gives what was decoded
// before the damage, the rest transparent (ARGB32), as zfconv's PNG does.
// The header's texts become QImage text keys with the names of zfconv's PNG
// text chunks, and the pixel ratio the dots per metre.
#include "sjis_text.h"
#include "zefa.h"

#include <QIODevice>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QVariant>
#include <QVector>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};
using Record = std::unique_ptr<zf_file, Closer>;

// More input than any picture a QImage can hold needs.
constexpr qint64 kMaxInput = qint64(1) << 30;
// Dots per metre along the finer side of a pixel: 72 dots per inch.
constexpr double kBaseDpm = 2835.0;
// How long a pipe or socket may keep the reader waiting for more bytes.
constexpr int kWaitMs = 30000;

bool has_magic(const QByteArray &head)
{
    return head.startsWith("ZFDT") ||
           (head.size() >= ZF_PREFIX_SIZE + 4 && std::memcmp(head.constData() + ZF_PREFIX_SIZE, "ZFDT", 4) == 0);
}

// The bytes an image may take, 0 for no limit.  Qt 6 has a setting for it
// (QImageReader::setAllocationLimit, or QT_IMAGEIO_MAXALLOC); Qt 5 has none,
// so the same variable and Qt 6's default apply there.
long long allocation_limit()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return static_cast<long long>(QImageReader::allocationLimit()) << 20;
#else
    bool ok = false;
    const int mb = qEnvironmentVariableIntValue("QT_IMAGEIO_MAXALLOC", &ok);
    return static_cast<long long>(ok && mb >= 0 ? mb : 128) << 20;
#endif
}

bool allocate(QSize size, QImage::Format format, QImage *image)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QImageIOHandler::allocateImage(size, format, image);
#else
    const long long limit = allocation_limit();
    const long long bits = QImage::toPixelFormat(format).bitsPerPixel();
    const long long line = (size.width() * bits + 31) / 32 * 4;
    if (size.isEmpty() || (limit > 0 && line * size.height() > limit))
        return false;
    *image = QImage(size, format);
    return !image->isNull();
#endif
}

// The rest of the device, waiting on pipes and sockets for their bytes.
bool read_device(QIODevice *device, QByteArray &out)
{
    if (!device || !device->isReadable())
        return false;
    if (!device->isSequential() && device->size() - device->pos() > kMaxInput)
        return false;
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const qint64 n = device->read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (n > 0) {
            if (out.size() + n > kMaxInput)
                return false;
            out.append(chunk.data(), static_cast<int>(n));
        } else if (n < 0 || !device->isSequential() || !device->waitForReadyRead(kWaitMs)) {
            break;
        }
    }
    return !out.isEmpty();
}

QString text_of(std::string_view sjis) { return QString::fromStdString(zfconv::sjis_to_utf8(sjis)); }

// What the header holds, read once per device.
struct Header {
    zf_info info{};
    int width = 0, height = 0;
    QVector<QRgb> colours; // 8-bit files: every index, unset entries black
    std::vector<std::pair<QString, QString>> texts;
};

void add_text(Header &h, const char *key, std::string_view sjis)
{
    if (!sjis.empty())
        h.texts.emplace_back(QString::fromLatin1(key), text_of(sjis));
}

bool read_header(const QByteArray &data, Header &h)
{
    Record f(zf_open_memory(data.constData(), static_cast<std::size_t>(data.size())));
    if (!f)
        return false;
    zf_get_info(f.get(), &h.info);
    const int depth = h.info.depth;
    if (depth != 8 && depth != 15 && depth != 24)
        return false;
    if (zf_picture_size(f.get(), &h.width, &h.height) != 0 || h.width < 1 || h.height < 1)
        return false;
    if (depth == 8) {
        h.colours.resize(ZF_PALETTE_MAX);
        for (int i = 0; i < ZF_PALETTE_MAX; ++i)
            h.colours[i] = qRgb(f->palette[3 * i], f->palette[3 * i + 1], f->palette[3 * i + 2]);
    }
    add_text(h, "Title", zfconv::trim_padding(h.info.title));
    add_text(h, "Author", zfconv::trim_padding(h.info.artist));
    std::string comment; // line ends as LF
    for (const char *c = f->comment; c && *c; ++c)
        if (!(c[0] == '\r' && c[1] == '\n'))
            comment += *c;
    add_text(h, "Comment", comment);
    add_text(h, "Software", zfconv::trim_padding(h.info.saver));
    if (h.info.time != 0) {
        const auto t = static_cast<std::time_t>(h.info.time);
        std::tm tm{};
        char when[32];
        if (gmtime_r(&t, &tm) && std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm) > 0)
            h.texts.emplace_back(QStringLiteral("CreationDate"), QString::fromLatin1(when));
    }
    add_text(h, "ZEFA Subtitle", zfconv::trim_padding(h.info.subtitle));
    h.texts.emplace_back(QStringLiteral("ZEFA Number"), QString::number(h.info.number));
    return true;
}

// A pixel x wide to y tall has y dots across to x down.
void set_resolution(QImage &image, const zf_info &info)
{
    if (info.ratio_x < 1 || info.ratio_y < 1)
        return;
    const double finer = std::max(info.ratio_x, info.ratio_y);
    image.setDotsPerMeterX(std::max(1, static_cast<int>(std::lround(kBaseDpm * info.ratio_y / finer))));
    image.setDotsPerMeterY(std::max(1, static_cast<int>(std::lround(kBaseDpm * info.ratio_x / finer))));
}

class ZefaHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override { return option == Size || option == ImageFormat; }
    QVariant option(ImageOption option) const override;

    static bool canRead(QIODevice *device) { return device && has_magic(device->peek(ZF_PREFIX_SIZE + 4)); }

private:
    bool load() const;
    bool decode(QImage *image);

    enum class State { unread, ready, failed };
    // option() is const and may come first: it reads the device for read()
    mutable State state_ = State::unread;
    mutable QByteArray data_;
    mutable Header header_;
};

bool ZefaHandler::canRead() const
{
    if (state_ == State::ready || canRead(device())) {
        setFormat("zf");
        return true;
    }
    return false;
}

bool ZefaHandler::load() const
{
    if (state_ != State::unread)
        return state_ == State::ready;
    state_ = State::failed;
    try {
        if (!read_device(device(), data_) || !read_header(data_, header_)) {
            data_ = QByteArray();
            return false;
        }
    } catch (const std::bad_alloc &) {
        data_ = QByteArray();
        return false;
    }
    state_ = State::ready;
    return true;
}

QVariant ZefaHandler::option(ImageOption option) const
{
    if ((option != Size && option != ImageFormat) || !load())
        return QVariant();
    if (option == Size)
        return QSize(header_.width, header_.height);
    return static_cast<int>(header_.info.depth == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888);
}

bool ZefaHandler::read(QImage *image)
{
    try {
        return image && load() && decode(image);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool ZefaHandler::decode(QImage *image)
{
    const Header &h = header_;
    const int w = h.width;
    const bool indexed = h.info.depth == 8;
    const std::size_t bpp = indexed ? 1 : 3;
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h.height);
    QImage sound;
    if (!allocate(QSize(w, h.height), indexed ? QImage::Format_Indexed8 : QImage::Format_RGB888, &sound))
        return false;
    // the library draws w * bpp bytes a line, which is the image's own
    // layout unless its lines are padded
    const bool direct = static_cast<std::size_t>(sound.bytesPerLine()) == w * bpp;
    std::vector<unsigned char> staging(direct ? 0 : n * bpp);
    unsigned char *pixels = direct ? sound.bits() : staging.data();
    if (direct)
        std::memset(pixels, 0, n * bpp); // what no block covers is background
    std::vector<unsigned char> mask(n, 0);

    Record f(zf_open_memory(data_.constData(), static_cast<std::size_t>(data_.size())));
    if (!f)
        return false;
    // A block reaches outside the picture only from a negative position;
    // none may take longer to decode than the largest picture allowed.
    const long long limit = allocation_limit();
    zf_set_pixel_limit(f.get(), limit > 0 ? std::max(static_cast<long long>(n), limit) : 0);
    zf_picture pic{};
    pic.width = w;
    pic.height = h.height;
    pic.pixels = pixels;
    pic.mask = mask.data();
    const int status = zf_decode_image(f.get(), &pic);
    f.reset();
    if (pic.blocks == 0 && (status == 0 || pic.failed_line == 0))
        return false; // nothing to show

    QImage out;
    if (status == 0) {
        if (!direct)
            for (int y = 0; y < h.height; ++y)
                std::memcpy(sound.scanLine(y), pixels + static_cast<std::size_t>(y) * w * bpp, w * bpp);
        if (indexed)
            sound.setColorTable(h.colours);
        out = std::move(sound);
    } else {
        // damaged: the lines before the damage, the rest transparent
        if (!allocate(QSize(w, h.height), QImage::Format_ARGB32, &out))
            return false;
        for (int y = 0; y < h.height; ++y) {
            auto *row = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                const unsigned char *p = pixels + i * bpp;
                row[x] = !mask[i] ? 0 : indexed ? h.colours[p[0]] : qRgb(p[0], p[1], p[2]);
            }
        }
    }
    for (const auto &[key, value] : h.texts)
        out.setText(key, value);
    set_resolution(out, h.info);
    *image = std::move(out);
    return true;
}

} // namespace

class ZefaPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "zefa.json")

public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override
    {
        if (format == "zf")
            return CanRead;
        if (format.isEmpty() && device && device->isReadable() && ZefaHandler::canRead(device))
            return CanRead;
        return {};
    }

    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override
    {
        auto *handler = new ZefaHandler;
        handler->setDevice(device);
        handler->setFormat(format.isEmpty() ? QByteArray("zf") : format);
        return handler;
    }
};

#include "zefa_qt.moc"
