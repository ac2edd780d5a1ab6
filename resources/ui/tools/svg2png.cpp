// Renders one SVG drawing into a PNG or JPEG image of the given size (build-time tool).
// usage: tw_svg2png in.svg out.png|out.jpg width height
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s in.svg out.png width height\n", argv[0]);
        return 2;
    }
    // Shapes only (no text), so no GUI application and no display are needed.
    QCoreApplication app(argc, argv);
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int width = QByteArray(argv[3]).toInt();
    const int height = QByteArray(argv[4]).toInt();
    QSvgRenderer renderer(in);
    if (!renderer.isValid() || width <= 0 || height <= 0) {
        std::fprintf(stderr, "tw_svg2png: cannot render %s\n", argv[1]);
        return 1;
    }
    const bool jpeg = out.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive);
    QImage image(width, height, jpeg ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(jpeg ? Qt::white : Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter);
    }
    if (!image.save(out, jpeg ? "JPG" : "PNG", jpeg ? 92 : -1)) {
        std::fprintf(stderr, "tw_svg2png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
