// dump_qt.cpp - files as Qt's QImageReader shows them, through the plugin
// of the format named on the command line ("zf": the build's, or "png"):
//   conformance_dump_qtN zf|png FILE...
#include "dump.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

namespace {

dump::Shown load(const QByteArray &format, const QString &file)
{
    dump::Shown shown;
    QImageReader reader(file, format);
    const QImage image = reader.read().convertToFormat(QImage::Format_RGBA8888);
    if (image.isNull()) {
        shown.error = reader.errorString().toStdString();
        if (shown.error.empty())
            shown.error = "an empty error";
        return shown;
    }
    shown.width = image.width();
    shown.height = image.height();
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        shown.rgba.insert(shown.rgba.end(), line, line + 4 * image.width());
    }
    for (const QString &key : image.textKeys())
        shown.texts[key.toStdString()] = image.text(key).toStdString();
    // the pixel's shape, as Qt tells it, among the texts (no text has this name)
    shown.texts["(dots per metre)"] =
        std::to_string(image.dotsPerMeterX()) + " x " + std::to_string(image.dotsPerMeterY());
    return shown;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    // the build's plugin and Qt's own, not one a system may have installed
    QCoreApplication::setLibraryPaths(QStringList{QStringLiteral(ZEFA_QT_PLUGIN_DIR)} + QCoreApplication::libraryPaths());
    const std::string tag = "qt" + std::to_string(QT_VERSION_MAJOR) + "-" + argv[1];
    for (int i = 2; i < argc; ++i) {
        dump::Shown shown = load(argv[1], QString::fromLocal8Bit(argv[i]));
        dump::print(argv[i], tag, shown);
    }
    return 0;
}
