// Renders the program's SVG icon as a square PNG for the desktop's icon theme, with the renderer
// the window draws it with. Usage: orvex-icon-png SVG PNG SIZE
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    // A build machine has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int size = argc == 4 ? std::atoi(argv[3]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: orvex-icon-png SVG PNG SIZE (16 to 1024)\n");
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setScaledSize(QSize(size, size));
    QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "orvex-icon-png: %s: %s\n", argv[1], qPrintable(reader.errorString()));
        return 1;
    }
    image.convertTo(QImage::Format_ARGB32);
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "orvex-icon-png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
