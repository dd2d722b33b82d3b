// The Qt image plugin as Qt programs use it, through QImageReader, without
// a display; built once per Qt flavour.  What it shows of a file, against
// zfconv's PNG of it, is the conformance test's (tests/conformance); here,
// what is the plugin's own: devices, formats, scaled sizes, refusals.
#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include "door_files.h"
#include "zefa.h"

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

QByteArray bytes_of(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool write(const QString &path, const std::vector<uint8_t> &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

} // namespace

class QtPlugin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void files_data();
    void files();
    void scaledSize();
    void foreignData();

private:
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

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
    for (const zt::DoorFile &f : zt::door_files())
        QVERIFY(write(path(QString::fromStdString(f.name) + ".ZF"), f.bytes));
}

void QtPlugin::files_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("depth");
    for (const zt::DoorFile &f : zt::door_files())
        QTest::newRow(f.name.c_str()) << QString::fromStdString(f.name) << f.depth;
}

// Each file the same on a file (told by its name), on a pipe and on a pipe
// with the 128-byte prefix (told by the content), the size first as
// viewers ask; indexed pictures as Indexed8.
void QtPlugin::files()
{
    QFETCH(QString, name);
    QFETCH(int, depth);
    const bool damaged = name.contains("damaged");
    const QImage whole(path(name + ".ZF"));
    QVERIFY(!whole.isNull());
    QCOMPARE(whole.format(), damaged ? QImage::Format_ARGB32
                             : depth == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888);
    QCOMPARE(whole.textKeys().contains("ZEFA Damage"), damaged);
    const QByteArray bytes = bytes_of(path(name + ".ZF"));
    Pipe pipe(bytes), prefixed(QByteArray(128, '\x1a') + bytes);
    for (QIODevice *device : std::initializer_list<QIODevice *>{&pipe, &prefixed}) {
        QImageReader reader(device);
        QCOMPARE(reader.format(), QByteArray("zf"));
        QCOMPARE(reader.size(), whole.size());
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image, whole);
        for (const QString &key : whole.textKeys())
            QCOMPARE(image.text(key), whole.text(key));
    }
}

// A scaled size is drawn straight at that size: each pixel the one of the
// whole picture nearest its centre.
void QtPlugin::scaledSize()
{
    for (const char *name : {"24-fast", "8-fast", "24-damaged"}) {
        const QImage whole = argb(QImage(path(QString(name) + ".ZF")));
        QImageReader reader(path(QString(name) + ".ZF"));
        reader.setScaledSize(QSize(13, 11));
        const QImage small = argb(reader.read());
        QCOMPARE(small.size(), QSize(13, 11));
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 13; ++x)
                QCOMPARE(small.pixel(x, y), whole.pixel((2 * x + 1) * whole.width() / 26,
                                                        (2 * y + 1) * whole.height() / 22));
    }
}

void QtPlugin::foreignData()
{
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && QImage(path("24-fast.ZF")).save(&buffer, "PNG"));
    Pipe junk(QByteArray("ZFDT") + QByteArray(200, '\xff'));
    QVERIFY(QImageReader(&junk, "zf").read().isNull());
    Pipe pipe(png); // told by content, a PNG is the PNG reader's
    QCOMPARE(QImageReader(&pipe).format(), QByteArray("png"));
}

QTEST_GUILESS_MAIN(QtPlugin)
#include "test_qt_plugin.moc"
