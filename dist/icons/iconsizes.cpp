// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the application icon at the hicolor sizes:
//   velmar_icon_sizes <source.png> <hicolor folder> <icon name> <size>...
// gives <hicolor folder>/<size>x<size>/apps/<icon name>.png for each size.
// Smooth scaling averages the source's pixels, which keeps the larger sizes
// from aliasing the way a plain resample of a 664-pixel drawing would. At 24
// pixels and below the drawing's thin circle and arrows average into a blur,
// so those sizes are drawn on the pixel grid instead: the same dark rounded
// square, grey module and blue, red and green axes, with fewer, bolder lines.

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

// The icon drawn for `size` pixels (16 to 24), its lines on whole pixels.
QImage smallIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double s = size;
    // Background: the large icon's dark purple square, corners rounded.
    QPainterPath square;
    square.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);
    p.fillPath(square, QColor(0x2e, 0x1c, 0x3d));
    p.setRenderHint(QPainter::Antialiasing, false);
    // The module: a flat grey slab in the lower half, its front face darker.
    const int w = qRound(s * 0.68), x = (size - w) / 2;
    const int top = qRound(s * 0.56), depth = qMax(2, qRound(s * 0.12)), face = qMax(2, size / 8);
    p.fillRect(x, top, w, depth, QColor(0x8a, 0x8a, 0x90));
    p.fillRect(x, top + depth, w, face, QColor(0x4a, 0x4a, 0x50));
    // The axes from the slab's middle, two pixels wide: z up (blue), x to the
    // right (red), y to the left (green).
    const int line = 2;
    const int cx = size / 2 - 1, cy = top + depth / 2;
    const int up = qRound(s * 0.14);
    p.fillRect(cx, up, line, cy - up + 1, QColor(0x3d, 0x7b, 0xd9));
    const int reach = qRound(s * 0.36);
    p.fillRect(cx + line, cy - line, reach - line, line, QColor(0xe5, 0x39, 0x35));
    p.fillRect(cx - reach + line, cy - line, reach - line, line, QColor(0x43, 0xa0, 0x47));
    // Arrow heads of three pixels across on each end.
    p.fillRect(cx - 1, up, line + 2, 1, QColor(0x3d, 0x7b, 0xd9));
    p.fillRect(cx + reach - 1, cy - line - 1, 1, line + 2, QColor(0xe5, 0x39, 0x35));
    p.fillRect(cx - reach + line, cy - line - 1, 1, line + 2, QColor(0x43, 0xa0, 0x47));
    p.end();
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(
            stderr, "usage: %s <source.png> <hicolor folder> <icon name> <size>...\n", argv[0]);
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "velmar_icon_sizes: cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir root(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > source.width()) {
            std::fprintf(stderr, "velmar_icon_sizes: bad size %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path
            = root.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        const QImage icon = size <= 24
            ? smallIcon(size)
            : source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!root.mkpath(folder) || !icon.save(path, "PNG")) {
            std::fprintf(stderr, "velmar_icon_sizes: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
