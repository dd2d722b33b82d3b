// The Qt image plugin as Qt programs use it, through QImageReader, without
// a display; built once per Qt flavour.  Every picture is compared with the
// PNG zfconv makes of the same ZEFA file.
#include <QBuffer>
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

// A picture of every shade, for depth 8 one of 200 palette entries.
QImage pattern(int w, int h, bool indexed)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 37 % 256, y * 59 % 256, (x * y + 11 * x) % 256));
    if (!indexed)
        return image;
    QVector<QRgb> colours;
    for (int i = 0; i < 200; ++i)
        colours.append(qRgb(i, 255 - i, i * 7 % 256));
    QImage out(w, h, QImage::Format_Indexed8);
    out.setColorTable(colours);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.setPixel(x, y, static_cast<uint>((x * 3 + y * 5) % 200));
    return out;
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
    // zfconv ARGS, which must succeed
    bool zfconv(const QStringList &args);
    // a PNG of the picture made into NAME.ZF with the options, and zfconv's PNG of that
    bool make(const QString &name, const QImage &picture, const QStringList &options);
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

bool QtPlugin::zfconv(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(ZFCONV_PATH), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "zfconv" << args << "failed:" << p.readAllStandardError();
        return false;
    }
    return true;
}

bool QtPlugin::make(const QString &name, const QImage &picture, const QStringList &options)
{
    return picture.save(path(name + ".src.png")) &&
           zfconv(QStringList{path(name + ".src.png"), path(name + ".ZF")} + options) &&
           zfconv({path(name + ".ZF"), path(name + ".png")});
}

void QtPlugin::initTestCase()
{
    // only the build's plugin, not one a system may have installed
    QCoreApplication::setLibraryPaths({QStringLiteral(ZEFA_QT_PLUGIN_DIR)});
    QVERIFY2(QImageReader::supportedImageFormats().contains("zf"), "the plugin in " ZEFA_QT_PLUGIN_DIR " is not loaded");
    QVERIFY(QImageReader::supportedMimeTypes().contains("image/x-zefa"));
    QVERIFY(!QImageWriter::supportedImageFormats().contains("zf"));
    QVERIFY(dir_.isValid());

    QVERIFY(make("d24f", pattern(61, 37, false), {"--depth=24", "--coding=fast"}));
    QVERIFY(make("d24o", pattern(64, 16, false), {"--depth=24", "--coding=optimizing"}));
    QVERIFY(make("d24n", pattern(40, 30, false), {"--depth=24", "--coding=none"}));
    QVERIFY(make("d15n", pattern(33, 9, false), {"--depth=15", "--coding=none"}));
    QVERIFY(make("d15o", pattern(50, 21, false), {"--depth=15", "--coding=optimizing"}));
    QVERIFY(make("d8f", pattern(45, 30, true), {"--depth=8", "--coding=fast"}));
    QVERIFY(make("d8n", pattern(64, 8, true), {"--depth=8", "--coding=none"}));
    QFile comment(path("comment.txt"));
    QVERIFY(comment.open(QIODevice::WriteOnly));
    comment.write("日本の港\nat dusk");
    comment.close();
    QVERIFY(make("texts", pattern(20, 10, false),
                 {"--title=Harbour", "--artist=Taro", "--comment=" + path("comment.txt"), "--ratio=2:1"}));
}

void QtPlugin::pixels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    // odd widths give RGB888 lines with padding
    QTest::newRow("24-bit fast") << "d24f" << int(QImage::Format_RGB888);
    QTest::newRow("24-bit optimizing") << "d24o" << int(QImage::Format_RGB888);
    QTest::newRow("24-bit uncompressed") << "d24n" << int(QImage::Format_RGB888);
    QTest::newRow("15-bit uncompressed") << "d15n" << int(QImage::Format_RGB888);
    QTest::newRow("15-bit optimizing") << "d15o" << int(QImage::Format_RGB888);
    QTest::newRow("8-bit fast") << "d8f" << int(QImage::Format_Indexed8);
    QTest::newRow("8-bit uncompressed") << "d8n" << int(QImage::Format_Indexed8);
}

// On a file (told by its name), on a pipe and on a pipe with the 128-byte
// prefix (told by the content), the size first as viewers ask.
void QtPlugin::pixels()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    const QImage png = argb(QImage(path(name + ".png")));
    QVERIFY(!png.isNull());
    const QByteArray bytes = bytes_of(path(name + ".ZF"));

    QImageReader file(path(name + ".ZF"));
    QCOMPARE(file.format(), QByteArray("zf"));
    QCOMPARE(file.size(), png.size());
    QImage image = file.read();
    QVERIFY2(!image.isNull(), qPrintable(file.errorString()));
    QCOMPARE(int(image.format()), format);
    QCOMPARE(argb(image), png);

    for (const QByteArray &content : {bytes, QByteArray(128, '\x1a') + bytes}) {
        Pipe pipe(content);
        QImageReader reader(&pipe);
        QCOMPARE(reader.format(), QByteArray("zf"));
        QCOMPARE(reader.size(), png.size());
        image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(argb(image), png);
    }
}

void QtPlugin::textsAndResolution()
{
    const QImage png(path("texts.png"));
    const QImage image(path("texts.ZF"));
    QVERIFY(!image.isNull() && !png.isNull());
    QCOMPARE(image.text("Title"), QStringLiteral("Harbour"));
    QCOMPARE(image.text("Author"), QStringLiteral("Taro"));
    QCOMPARE(image.text("Comment"), QString::fromUtf8("日本の港\nat dusk")); // stored as Shift-JIS
    QVERIFY(image.text("Software").startsWith("zfconv"));
    QVERIFY(!image.text("CreationDate").isEmpty());
    QCOMPARE(image.text("CreationDate"), png.text("Creation Time"));
    // the keys zfconv's PNG text chunks have, with the same text
    for (const char *key : {"Title", "Author", "Comment", "Software", "ZEFA Subtitle", "ZEFA Number"})
        QCOMPARE(image.text(key), png.text(key));
    // pixels twice as wide as tall: half as many dots across
    QCOMPARE(image.dotsPerMeterY(), 2835);
    QCOMPARE(image.dotsPerMeterX(), 1418);
}

void QtPlugin::allocationLimit()
{
    QVERIFY(make("large", pattern(1100, 1000, false), {"--depth=24"})); // 3.3 MB as RGB888
    QImageReader reader(path("large.ZF"));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const int before = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(3);
#else
    qputenv("QT_IMAGEIO_MAXALLOC", "3");
#endif
    QCOMPARE(reader.size(), QSize(1100, 1000)); // the size needs no pixels
    const QImage refused = reader.read();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QImageReader::setAllocationLimit(before);
#else
    qunsetenv("QT_IMAGEIO_MAXALLOC");
#endif
    QVERIFY(refused.isNull());
    QCOMPARE(argb(QImage(path("large.ZF"))), argb(QImage(path("large.png"))));
}

// Lines before the damage, the rest transparent, as zfconv shows it; no
// cut or changed byte makes a read crash or claim a wrong size.
void QtPlugin::damagedFiles()
{
    const QByteArray whole = bytes_of(path("d24n.ZF"));
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

    for (const char *name : {"d8f", "d24o", "d15o"}) {
        const QByteArray bytes = bytes_of(path(QString(name) + ".ZF"));
        const QSize size = QImage(path(QString(name) + ".png")).size();
        for (int n = 0; n < bytes.size(); n += n < 300 ? 1 : 7) {
            QByteArray changed = bytes;
            changed[n] = static_cast<char>(changed[n] ^ 0x5a);
            Pipe short_pipe(bytes.left(n)), changed_pipe(changed);
            const QImage got = QImageReader(&short_pipe, "zf").read();
            QVERIFY(got.isNull() || got.size() == size);
            QImageReader(&changed_pipe, "zf").read();
        }
    }
}

void QtPlugin::foreignData()
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(pattern(5, 5, false).save(&buffer, "PNG"));
    for (const QByteArray &data : {png, QByteArray("ZFDT") + QByteArray(200, '\xff'), QByteArray()}) {
        Pipe pipe(data);
        QImageReader reader(&pipe, "zf");
        QVERIFY(reader.read().isNull());
    }
    // told by content, a PNG is the PNG reader's
    Pipe pipe(png);
    QImageReader reader(&pipe);
    QCOMPARE(reader.format(), QByteArray("png"));
}

QTEST_GUILESS_MAIN(QtPlugin)
#include "test_qt_plugin.moc"
