// The Qt image plugin for ZEFA files: every Qt 5 and Qt 6 program that
// reads pictures through QImageReader (KDE's viewers and thumbnailer among
// them) shows ZEFA files.  It reads only.  One source builds for both.
//
// The handler takes the device's bytes once (from a file, a pipe or any
// sequential device), answers the size from the block headers without
// decoding, and draws the picture through the library's whole-picture
// calls under the library's limits, straight at the size asked for when
// the reader asks for a scaled one.  Pixels: palette indices with the
// colour table for 8-bit files, RGB888 for 15- and 24-bit files; a damaged
// file gives what was decoded before the damage, the rest transparent
// (ARGB32), as zfconv's PNG does.  The texts are those Qt's PNG reader
// gives for zfconv's PNG of the same file, under the same keys.
#include "zefa.hpp"

#include <QIODevice>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QVariant>
#include <QVector>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

// More input than any picture a QImage can hold needs.
constexpr qint64 kMaxInput = qint64(1) << 30;
// How long a pipe or socket may keep the reader waiting for more bytes.
constexpr int kWaitMs = 30000;

// Qt 6 applies its allocation limit (QImageReader::setAllocationLimit);
// Qt 5 has none.
bool allocate(QSize size, QImage::Format format, QImage *image)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QImageIOHandler::allocateImage(size, format, image);
#else
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

// What the header says, read once per device without decoding.
struct Header {
    int depth = 0;
    QSize size; // the canvas; invalid when the blocks cannot be walked
    std::vector<std::pair<QString, QString>> texts;
};

bool read_header(const QByteArray &data, Header &h)
{
    zefa::Record f = zefa::open_memory(data.constData(), static_cast<std::size_t>(data.size()));
    if (!f)
        return false;
    zf_info info{};
    zf_get_info(f.get(), &info);
    h.depth = info.depth;
    const zefa::Texts texts(zf_get_texts(f.get(), nullptr));
    for (const zf_text_entry *t = texts.get(); t && t->key; ++t)
        h.texts.emplace_back(QString::fromUtf8(t->key), QString::fromUtf8(t->value));
    int w = 0, ht = 0;
    if (zf_picture_size(f.get(), &w, &ht) == 0 && w > 0 && ht > 0)
        h.size = QSize(w, ht);
    return true;
}

QImage::Format sound_format(int depth) { return depth == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888; }

// A decoded picture into *out (which is used when it has the size and form
// already); false when Qt refuses the allocation.
bool to_qimage(const zf_image &img, QImage *out)
{
    const std::size_t w = static_cast<std::size_t>(img.width), n = w * static_cast<std::size_t>(img.height);
    const bool indexed = img.format == ZF_INDEXED;
    const bool holes = img.mask && std::find(img.mask, img.mask + n, 0) != img.mask + n;
    const QSize size(img.width, img.height);
    if (!holes) {
        const QImage::Format format = sound_format(img.depth);
        if ((out->size() != size || out->format() != format) && !allocate(size, format, out))
            return false;
        const std::size_t line = indexed ? w : 3 * w;
        for (int y = 0; y < img.height; ++y)
            std::memcpy(out->scanLine(y), img.pixels + static_cast<std::size_t>(y) * line, line);
        if (indexed) {
            QVector<QRgb> colours(ZF_PALETTE_MAX);
            for (int i = 0; i < ZF_PALETTE_MAX; ++i)
                colours[i] = qRgb(img.palette[3 * i], img.palette[3 * i + 1], img.palette[3 * i + 2]);
            out->setColorTable(colours);
        }
        return true;
    }
    if (!allocate(size, QImage::Format_ARGB32, out))
        return false;
    for (int y = 0; y < img.height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(out->scanLine(y));
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            const unsigned char *p = indexed ? img.palette + 3 * std::size_t{img.pixels[i]} : img.pixels + 3 * i;
            row[x] = img.mask[i] ? qRgb(p[0], p[1], p[2]) : 0;
        }
    }
    return true;
}

class ZefaHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override
    {
        return option == Size || option == ImageFormat || option == ScaledSize;
    }
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant &value) override;

    static bool canRead(QIODevice *device)
    {
        if (!device)
            return false;
        const QByteArray head = device->peek(ZF_SNIFF_SIZE);
        return zf_sniff(head.constData(), static_cast<std::size_t>(head.size())) == 1;
    }

private:
    bool load() const;
    bool decode(QImage *image);

    enum class State { unread, ready, failed };
    // option() is const and may come first: it reads the device for read()
    mutable State state_ = State::unread;
    mutable QByteArray data_;
    mutable Header header_;
    QSize scaled_;
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
    if (option == ScaledSize)
        return scaled_;
    if ((option != Size && option != ImageFormat) || !load())
        return QVariant();
    if (option == Size)
        return header_.size.isValid() ? QVariant(header_.size) : QVariant();
    return static_cast<int>(sound_format(header_.depth));
}

void ZefaHandler::setOption(ImageOption option, const QVariant &value)
{
    if (option == ScaledSize)
        scaled_ = value.toSize();
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
    // the scaled decode only when it differs from the canvas: the same
    // picture costs less drawn whole
    QSize at(0, 0); // 0 x 0: the canvas
    if (scaled_.isValid() && !scaled_.isEmpty() && scaled_ != header_.size)
        at = scaled_;
    // Qt's allocation limit before any decoding, for the picture a sound file gives
    const QSize size = at.isEmpty() ? header_.size : at;
    QImage out;
    if (size.isValid() && !allocate(size, sound_format(header_.depth), &out))
        return false;
    zf_report report{};
    const zefa::Image img(zf_decode_memory_scaled(data_.constData(), static_cast<std::size_t>(data_.size()),
                                                  at.width(), at.height(), nullptr, ZF_INDEXED, &report));
    if (!img || !to_qimage(*img, &out))
        return false;
    for (const auto &[key, value] : header_.texts)
        out.setText(key, value);
    if (report.status == ZF_DECODED_DAMAGED)
        out.setText(QStringLiteral("ZEFA Damage"), QString::fromStdString(zefa::words(report)));
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
