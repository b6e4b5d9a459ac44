// SPDX-License-Identifier: GPL-3.0-or-later
#include "chartExport.h"

#include "checkedfile.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QMap>
#include <qcustomplot.h>

#include <charconv>
#include <cmath>

namespace {

// Shortest text that reads back as the same float: the values are floats.
void appendFloat(QByteArray &out, float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, int(result.ptr - text));
}

} // namespace

namespace chartexport {

QString csvUnit(const QString &unit)
{
    QString ascii = unit;
    ascii.replace(QStringLiteral("°C"), QStringLiteral("C"));
    ascii.replace(QChar(0x00B0), QStringLiteral("deg"));
    ascii.replace(QChar(0x00B2), QLatin1Char('2'));
    ascii.replace(QChar(0x00B3), QLatin1Char('3'));
    ascii.replace(QChar(0x00B5), QLatin1Char('u'));
    ascii.replace(QLatin1Char(' '), QLatin1Char('_'));
    return ascii;
}

QByteArray visibleCsv(const QCustomPlot *plot, const QString &valueUnit)
{
    QByteArray out("time_s");
    if (!plot)
        return out + '\n';
    const QString unit = csvUnit(valueUnit);
    for (int i = 0; i < plot->graphCount(); ++i) {
        QString name = plot->graph(i)->name();
        if (!unit.isEmpty())
            name += QLatin1Char('_') + unit;
        // A name never holds a comma or a quote here; quote it anyway if it did.
        if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('"')))
            name = QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\""))
                + QLatin1Char('"');
        out += ',' + name.toUtf8();
    }
    out += '\n';

    // Rows by time: the curves of a chart share their sample times, but a
    // short list may have fed only the first curves, so merge by key.
    const QCPRange shown = plot->xAxis->range();
    QMap<double, QVector<double>> rows;
    const int curves = plot->graphCount();
    for (int i = 0; i < curves; ++i) {
        const QSharedPointer<QCPGraphDataContainer> points = plot->graph(i)->data();
        for (auto it = points->findBegin(shown.lower, false);
             it != points->findEnd(shown.upper, false); ++it) {
            QVector<double> &row = rows[it->key];
            if (row.isEmpty())
                row.fill(std::nan(""), curves);
            row[i] = it->value;
        }
    }
    for (auto row = rows.constBegin(); row != rows.constEnd(); ++row) {
        out += QByteArray::number(row.key(), 'f', 3);
        for (double value : row.value()) {
            out += ',';
            if (!std::isnan(value))
                appendFloat(out, float(value));
        }
        out += '\n';
    }
    return out;
}

QString saveCsv(const QByteArray &csv, const QString &path)
{
    return CheckedFile::save(path, csv);
}

QString savePng(QCustomPlot *plot, const QString &path)
{
    if (!plot || plot->width() <= 0 || plot->height() <= 0)
        return QStringLiteral("the chart has no size yet");
    // The plot as it stands, drawn afresh at its size: the same picture as
    // on screen.
    const QImage image = plot->toPixmap(plot->width(), plot->height()).toImage();
    // Encoded in memory first: the file is then saved whole or not at all.
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    QImageWriter writer(&png, "png");
    if (!writer.write(image))
        return writer.errorString();
    return CheckedFile::save(path, png.data());
}

} // namespace chartexport
