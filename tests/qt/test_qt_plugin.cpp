// The Qt image plugin as Qt programs use it, through QImageReader, without
// a display; built once per Qt flavour.  Every picture is compared with the
// PNG zfconv makes of the same ZEFA file.
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>

namespace {

// A device read forward only, in pieces, as a pipe is.
class Pipe : public QIODevice {
public:
    explicit Pipe(QByteArray bytes) : bytes_(std::move(bytes)) { open(ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (at_ >= bytes_.size())
            return -1;
        const qint64 n = std::min<qint64>({max, bytes_.size() - at_, 1000});
        std::memcpy(data, bytes_.constData() + at_, static_cast<std::size_t>(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 at_ = 0;
};

QImage argb(const QImage &image) { return image.convertToFormat(QImage::Format_ARGB32); }

// The files each test reads, named after their depth and coding (each
// depth is drawn its own way; the codings are the library's, decoded alike);
// odd widths give RGB888 lines with padding.
struct Sample {
    const char *name;
    int width, height, depth;
    const char *coding;
};
const Sample kSamples[] = {{"24-fast", 61, 37, 24, "fast"}, {"24-none", 40, 30, 24, "none"},
                           {"15-optimizing", 33, 9, 15, "optimizing"}, {"8-fast", 45, 30, 8, "fast"}};

// A picture of many shades; in 8 bits one of a palette.
QImage pattern(int w, int h, int depth = 24)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 37 % 256, y * 59 % 256, (x * y + 11 * x) % 256));
    return depth == 8 ? image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither) : image;
}

QByteArray bytes_of(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class QtPlugin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pixels_data();
    void pixels();
    void textsAndResolution();
    void allocationLimit();
    void damagedFiles();
    void foreignData();

private:
    // zfconv ARGS, which must succeed (its messages in the test output)
    bool zfconv(const QStringList &args);
    // a PNG of the picture made into NAME.ZF with the options, and zfconv's PNG of that
    bool make(const QString &name, const QImage &picture, const QStringList &options);
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

bool QtPlugin::zfconv(const QStringList &args) { return QProcess::execute(QStringLiteral(ZFCONV_PATH), args) == 0; }

bool QtPlugin::make(const QString &name, const QImage &picture, const QStringList &options)
{
    return picture.save(path(name + ".src.png")) &&
           zfconv(QStringList{path(name + ".src.png"), path(name + ".ZF")} + options) &&
           zfconv({path(name + ".ZF"), path(name + ".png")});
}

void QtPlugin::initTestCase()
{
    // only the build's plugin (or an installed one the variable names), not
    // one a system may have installed
    QString plugins = qEnvironmentVariable("ZEFA_QT_PLUGIN_DIR");
    if (plugins.isEmpty())
        plugins = QStringLiteral(ZEFA_QT_PLUGIN_DIR);
    QCoreApplication::setLibraryPaths({plugins});
    QVERIFY2(QImageReader::supportedImageFormats().contains("zf"),
             qPrintable("the plugin in " + plugins + " is not loaded"));
    QVERIFY(QImageReader::supportedMimeTypes().contains("image/x-zefa"));
    QVERIFY(!QImageWriter::supportedImageFormats().contains("zf"));
    QVERIFY(dir_.isValid());
    for (const Sample &f : kSamples)
        QVERIFY(make(f.name, pattern(f.width, f.height, f.depth),
                     {"--depth=" + QString::number(f.depth), QStringLiteral("--coding=") + f.coding}));
    QFile comment(path("comment.txt"));
    QVERIFY(comment.open(QIODevice::WriteOnly) && comment.write("日本の港\nat dusk") > 0);
    comment.close();
    QVERIFY(make("texts", pattern(20, 10),
                 {"--title=Harbour", "--artist=Taro", "--comment=" + path("comment.txt"), "--ratio=2:1"}));
}

void QtPlugin::pixels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("depth");
    for (const Sample &f : kSamples)
        QTest::newRow(f.name) << QString::fromLatin1(f.name) << f.depth;
}

// On a file (told by its name), on a pipe and on a pipe with the 128-byte
// prefix (told by the content), the size first as viewers ask.
void QtPlugin::pixels()
{
    QFETCH(QString, name);
    QFETCH(int, depth);
    const QImage png = argb(QImage(path(name + ".png")));
    const QByteArray bytes = bytes_of(path(name + ".ZF"));
    QFile file(path(name + ".ZF"));
    Pipe pipe(bytes), prefixed(QByteArray(128, '\x1a') + bytes);
    for (QIODevice *device : std::initializer_list<QIODevice *>{&file, &pipe, &prefixed}) {
        QImageReader reader(device);
        QCOMPARE(reader.format(), QByteArray("zf"));
        QCOMPARE(reader.size(), png.size());
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.format(), depth == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888);
        QCOMPARE(argb(image), png);
    }
}

void QtPlugin::textsAndResolution()
{
    const QImage png(path("texts.png"));
    const QImage image(path("texts.ZF"));
    QVERIFY(!image.isNull() && !png.isNull());
    QCOMPARE(image.text("Comment"), QString::fromUtf8("日本の港\nat dusk")); // stored as Shift-JIS
    QVERIFY(!image.text("CreationDate").isEmpty());
    QCOMPARE(image.text("CreationDate"), png.text("Creation Time"));
    // the keys of zfconv's PNG text chunks, with the same text
    for (const char *key : {"Title", "Author", "Comment", "Software", "ZEFA Subtitle", "ZEFA Number"})
        QCOMPARE(image.text(key), png.text(key));
    // pixels twice as wide as tall: half as many dots across
    QCOMPARE(image.dotsPerMeterY(), 2835);
    QCOMPARE(image.dotsPerMeterX(), 1418);
}

void QtPlugin::allocationLimit()
{
    QVERIFY(make("large", pattern(1100, 1000), {"--depth=24"})); // 3.3 MB as RGB888
    QImageReader reader(path("large.ZF"));
    qputenv("QT_IMAGEIO_MAXALLOC", "3"); // megabytes; Qt 5 has no other setting
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QImageReader::setAllocationLimit(3);
#endif
    QCOMPARE(reader.size(), QSize(1100, 1000)); // the size needs no pixels
    QVERIFY(reader.read().isNull());
    qunsetenv("QT_IMAGEIO_MAXALLOC");
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QImageReader::setAllocationLimit(0);
#endif
    QCOMPARE(argb(QImage(path("large.ZF"))), argb(QImage(path("large.png"))));
}

// Lines before the damage, the rest transparent, as zfconv shows it (every
// cut and changed byte is the fuzz targets' part: the plugin reads through the
// library's zf_decode_image).
void QtPlugin::damagedFiles()
{
    const QByteArray whole = bytes_of(path("24-none.ZF"));
    const QByteArray cut = whole.left(whole.size() - 8 - 3 * 40 * 12 - 50); // 12 lines and some pixels lost
    QFile out(path("cut.ZF"));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(cut) == cut.size());
    out.close();
    QProcess::execute(QStringLiteral(ZFCONV_PATH), {path("cut.ZF"), path("cut.png")}); // fails, writes the PNG
    const QImage png(path("cut.png"));
    QVERIFY(!png.isNull());
    const QImage image(path("cut.ZF"));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QCOMPARE(argb(image), argb(png));
    QCOMPARE(qAlpha(image.pixel(39, 0)), 255);
    QCOMPARE(image.pixel(39, 29), 0u);
}

void QtPlugin::foreignData()
{
    const QByteArray png = bytes_of(path("texts.png"));
    for (const QByteArray &data : {png, QByteArray("ZFDT") + QByteArray(200, '\xff'), QByteArray()}) {
        Pipe pipe(data);
        QVERIFY(QImageReader(&pipe, "zf").read().isNull());
    }
    Pipe pipe(png); // told by content, a PNG is the PNG reader's
    QCOMPARE(QImageReader(&pipe).format(), QByteArray("png"));
}

QTEST_GUILESS_MAIN(QtPlugin)
#include "test_qt_plugin.moc"
