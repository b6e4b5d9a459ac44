// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the application icon at the hicolor sizes:
//   velmar_icon_sizes <source.png> <hicolor folder> <icon name> <size>...
// gives <hicolor folder>/<size>x<size>/apps/<icon name>.png for each size.
// Smooth scaling averages the source's pixels, which keeps the small sizes
// from aliasing the way a plain resample of a 664-pixel drawing would.

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

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
        const QImage icon
            = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!root.mkpath(folder) || !icon.save(path, "PNG")) {
            std::fprintf(stderr, "velmar_icon_sizes: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
