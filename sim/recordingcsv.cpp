// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingcsv.h"

#include "csvtext.h"
#include "record.h"
#include "recordingdecoder.h"

#include <QSaveFile>

#include <vector>

namespace {
constexpr int batchRows = 4096;
} // namespace

RecordingCsvResult convertRecordingToCsv(const QString &rawPath, const QString &csvPath)
{
    RecordingCsvResult result;
    decode::RecordingDecoder decoder;
    if (!decoder.open(rawPath)) {
        result.error = decoder.error();
        return result;
    }
    result.warning = decoder.warning();

    QSaveFile file(csvPath);
    const auto cannotWrite = [&] {
        result.error = QStringLiteral("cannot write %1: %2").arg(csvPath, file.errorString());
        return result;
    };
    if (!file.open(QIODevice::WriteOnly))
        return cannotWrite();
    const QByteArray header = csvHeaderRow(decoder.info().magCalibrated);
    if (file.write(header) != header.size())
        return cannotWrite();

    // Rows go out a batch at a time from one buffer, so that memory stays flat
    // and no row is a string of its own.
    std::vector<MeasurementFrame> samples(batchRows);
    std::vector<char> text(std::size_t(batchRows) * decode::csvRowCapacity);
    for (;;) {
        const int n = decoder.read(samples.data(), batchRows);
        if (n == 0)
            break;
        char *end = text.data();
        for (int i = 0; i < n; ++i)
            end = decode::writeCsvRow(end, samples[std::size_t(i)]);
        const qint64 length = end - text.data();
        if (file.write(text.data(), length) != length)
            return cannotWrite();
        result.rows += n;
    }
    result.frames = decoder.frames();
    if (!file.commit())
        return cannotWrite();
    if (!decoder.error().isEmpty()) {
        // Everything before the damage is in the CSV; say what was left out.
        result.error = decoder.error();
        return result;
    }
    result.ok = true;
    return result;
}
