// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli's commands that save, restore and calibrate: module files, the
// backups taken before anything overwrites a calibration, and the gyroscope's
// at-rest procedure.
#include "clicommand.h"

#include "backupstore.h"

#include "calibration.h"
#include "checkedfile.h"
#include "magunit.h"
#include "record.h"
#include "recordingcsv.h"
#include "velmar_version.h"

#include "sample4.h"
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace Cli {

int Command::exportFile()
{
    const QString path = arg(1);
    // Checked before the module is read: a device, FIFO or folder is never
    // replaced by a file, and a folder that cannot take the file says so now.
    if (path != QLatin1String("-")) {
        const QString refusal = CheckedFile::targetRefusal(path);
        if (!refusal.isEmpty())
            return fail(CliExit::Refused, path, refusal);
    }
    const ModuleSnapshot module = readModule(Decoding::Raw);
    if (!module.ok())
        return module.status;
    const ModuleFileIdentity &identity = module.identity;
    ModuleFile file = ModuleFile::fromImage(module.image.data(), identity);
    file.application = QStringLiteral("velmar-cli " VELMAR_VERSION);
    file.trigger = QStringLiteral("export");
    if (path == QLatin1String("-")) {
        // The file itself is the output.
        out() << QString::fromUtf8(writeModuleFile(file));
        out().flush();
        return out().status() == QTextStream::Ok
            ? CliExit::Ok
            : fail(CliExit::Failure, path, QStringLiteral("cannot write to standard output"));
    }
    const QString error = CheckedFile::save(path, writeModuleFile(file));
    if (!error.isEmpty())
        return fail(CliExit::Failure, path, error);
    if (m_json) {
        printJson(QJsonObject {{QStringLiteral("file"), path},
            {QStringLiteral("deviceId"), identity.deviceId},
            {QStringLiteral("hardwareVersion"), identity.hardwareVersion},
            {QStringLiteral("softwareVersion"), identity.softwareVersion},
            {QStringLiteral("registers"), int(file.present.count())}});
    } else {
        out() << "exported " << file.present.count() << " registers of " << identity.text()
              << " to " << path << '\n';
    }
    return CliExit::Ok;
}

int Command::importDryRun(const QString &path, const ModuleFile &file, const RegisterImage &module,
    const std::bitset<registerCount> &chosen, const std::bitset<registerCount> &toWrite)
{
    QJsonArray rows;
    if (!m_json)
        out() << QStringLiteral("%1 %2 %3\n")
                     .arg(QStringLiteral("would write"), -26)
                     .arg(QStringLiteral("file"), 14)
                     .arg(QStringLiteral("module now"), 14);
    for (const RegisterComparison &c : compareWithImage(file, module.data())) {
        if (!chosen.test(std::size_t(c.row)) || !toWrite.test(std::size_t(c.row)))
            continue;
        if (m_json)
            rows.append(QJsonObject {{QStringLiteral("name"), c.name},
                {QStringLiteral("address"), registerCatalogue[std::size_t(c.row)].address},
                {QStringLiteral("file"), c.fileText}, {QStringLiteral("module"), c.moduleText}});
        else
            out() << QStringLiteral("%1 %2 %3\n")
                         .arg(c.name, -26)
                         .arg(c.fileText, 14)
                         .arg(c.moduleText, 14);
    }
    if (m_json)
        printJson(QJsonObject {{QStringLiteral("file"), path}, {QStringLiteral("dryRun"), true},
            {QStringLiteral("wouldWrite"), rows}});
    else
        out() << toWrite.count() << " would be written; dry run, nothing sent\n";
    return CliExit::Ok;
}

QString Command::backupBeforeWrite(
    const ModuleSnapshot &module, const QString &trigger, int *status)
{
    ModuleFile file = ModuleFile::fromImage(module.image.data(), module.identity);
    file.application = QStringLiteral("velmar-cli " VELMAR_VERSION);
    QString error;
    const QString path = BackupStore().save(file, trigger, &error);
    if (path.isEmpty())
        *status = fail(CliExit::Failure, port(),
            QStringLiteral("no backup, so nothing written: %1").arg(error));
    return path;
}

int Command::importFile()
{
    const QString path = arg(1);
    const ModuleFileReading reading = readModuleFile(path);
    if (!reading.ok)
        return fail(CliExit::Refused, path, QStringLiteral("refused: %1").arg(reading.refusal));
    const ModuleFile &file = reading.file;

    std::bitset<registerCount> chosen = file.present;
    if (m_parser.isSet(QStringLiteral("only"))) {
        chosen.reset();
        const QStringList words = m_parser.values(QStringLiteral("only"))
                                      .join(QLatin1Char(','))
                                      .split(QLatin1Char(','));
        for (const QString &raw : words) {
            const QString word = raw.trimmed();
            // A register name as typed loosely, or a block name.
            const int named = registerNamedLoosely(word);
            const QVector<int> rows = rowsNamed(named >= 0
                    ? QString::fromLatin1(registerCatalogue[std::size_t(named)].name)
                    : word);
            if (rows.isEmpty())
                return fail(CliExit::Refused, path,
                    QStringLiteral("--only: unknown register or block \"%1\"").arg(word));
            for (int row : rows) {
                if (!file.has(row))
                    return fail(CliExit::Refused, path,
                        QStringLiteral("--only: the file gives no value for \"%1\"")
                            .arg(QLatin1String(registerCatalogue[std::size_t(row)].name)));
                chosen.set(std::size_t(row));
            }
        }
    }

    const ModuleSnapshot module = readModule(Decoding::Raw);
    if (!module.ok())
        return module.status;
    const RegisterImage &before = module.image;
    const QString incompatible = compatibilityRefusal(file, module.identity);
    if (!incompatible.isEmpty())
        return fail(CliExit::Refused, path, QStringLiteral("refused: %1").arg(incompatible));

    // What differs among the chosen registers, written in runs of neighbours.
    std::bitset<registerCount> toWrite;
    bool touchesCalibration = false;
    for (const RegisterComparison &c : compareWithImage(file, before.data())) {
        if (!chosen.test(std::size_t(c.row)) || !c.differs)
            continue;
        toWrite.set(std::size_t(c.row));
        const int address = registerCatalogue[std::size_t(c.row)].address;
        for (int b = 0; b < calibrationBlockCount; ++b)
            touchesCalibration
                = touchesCalibration || calibrationBlockSpan(CalibrationBlock(b)).contains(address);
    }
    if (m_parser.isSet(QStringLiteral("dry-run")))
        return importDryRun(path, file, before, chosen, toWrite);
    QString backup;
    if (touchesCalibration) {
        int status = CliExit::Ok;
        backup = backupBeforeWrite(module, QStringLiteral("before import"), &status);
        if (backup.isEmpty())
            return status;
    }
    for (const RegisterSpan run : writeRuns(toWrite))
        m_link.write(run.address,
            QByteArray(reinterpret_cast<const char *>(file.bytesAt(run.address)), run.count));
    RegisterImage after = before;
    if (toWrite.any()) {
        const QByteArray held = m_link.read(RegisterMap::Writable);
        if (held.size() != RegisterMap::Writable.count)
            return linkFailure();
        std::memcpy(after.data() + RegisterMap::Writable.address, held.constData(),
            std::size_t(held.size()));
    }

    int mismatches = 0;
    QJsonArray rows;
    const QVector<RegisterComparison> now = compareWithImage(file, after.data());
    const QVector<RegisterComparison> then = compareWithImage(file, before.data());
    if (!m_json)
        out() << QStringLiteral("%1 %2 %3 %4\n")
                     .arg(QStringLiteral("register"), -26)
                     .arg(QStringLiteral("file"), 14)
                     .arg(QStringLiteral("before"), 14)
                     .arg(QStringLiteral("now"), 14);
    for (int i = 0; i < now.size(); ++i) {
        const RegisterComparison &c = now[i];
        if (!chosen.test(std::size_t(c.row)))
            continue;
        const bool written = toWrite.test(std::size_t(c.row));
        mismatches += c.differs ? 1 : 0;
        if (m_json) {
            rows.append(
                QJsonObject {{QStringLiteral("name"), c.name}, {QStringLiteral("file"), c.fileText},
                    {QStringLiteral("before"), then[i].moduleText},
                    {QStringLiteral("now"), c.moduleText}, {QStringLiteral("written"), written},
                    {QStringLiteral("differs"), c.differs}});
        } else {
            out() << QStringLiteral("%1 %2 %3 %4%5\n")
                         .arg(c.name, -26)
                         .arg(c.fileText, 14)
                         .arg(then[i].moduleText, 14)
                         .arg(c.moduleText, 14)
                         .arg(c.differs    ? QStringLiteral("  DIFFERS")
                                 : written ? QStringLiteral("  written")
                                           : QString());
        }
    }
    if (m_json) {
        printJson(QJsonObject {{QStringLiteral("file"), path}, {QStringLiteral("registers"), rows},
            {QStringLiteral("written"), int(toWrite.count())},
            {QStringLiteral("differ"), mismatches}, {QStringLiteral("backup"), backup}});
    } else {
        out() << toWrite.count() << " written, " << mismatches << " differ"
              << (backup.isEmpty() ? QString() : QStringLiteral("; backup %1").arg(backup)) << '\n';
    }
    out().flush();
    if (mismatches > 0)
        return fail(CliExit::Mismatch, port(),
            QStringLiteral("%1 registers differ from the file after writing").arg(mismatches));
    return CliExit::Ok;
}

bool Command::restoreControl1(quint8 mode, QByteArray *held)
{
    QElapsedTimer waiting;
    waiting.start();
    while (waiting.elapsed() < restoreWaitMs) {
        m_link.close();
        // Put back only once the module answers with it: a port that has just
        // come back may take the write before it is being read.
        if (m_link.open(port(), 1000)
            && m_link.writeAndReadBack(
                RegisterMap::Control1.address, QByteArray(1, char(mode)), held)
            && *held == QByteArray(1, char(mode)))
            return true;
        ModuleLink::pause(200);
    }
    return false;
}

int Command::record()
{
    bool ok = false;
    const double seconds = m_parser.value(QStringLiteral("seconds")).toDouble(&ok);
    if (!m_parser.isSet(QStringLiteral("seconds")) || !ok || !(seconds > 0 && seconds <= 86400))
        return fail(CliExit::Usage, QStringLiteral("record"),
            QStringLiteral("--seconds takes a number of seconds from 0 to 86400"));
    const QString csvPath = m_parser.value(QStringLiteral("csv"));
    const QString rawPath = m_parser.value(QStringLiteral("raw"));
    if (csvPath.isEmpty() && rawPath.isEmpty())
        return fail(CliExit::Usage, QStringLiteral("record"),
            QStringLiteral("--csv FILE or --raw FILE (or both) is needed"));
    if (rawPath == QLatin1String("-"))
        return fail(CliExit::Usage, QStringLiteral("record"),
            QStringLiteral("--raw needs a file; standard output takes the CSV only"));
    // "-": standard output. A file is checked before anything streams: a run
    // whose rows could not be kept is not started.
    const bool toStandardOutput = csvPath == QLatin1String("-");
    for (const QString &path : {csvPath, rawPath}) {
        if (path.isEmpty() || path == QLatin1String("-"))
            continue;
        const QString refusal = CheckedFile::probe(path);
        if (!refusal.isEmpty())
            return fail(CliExit::Refused, path, refusal);
    }
    const ModuleSnapshot module = readModule(Decoding::Decoded);
    if (!module.ok())
        return module.status;
    const RegisterImage &image = module.image;
    const ImageDecoder &decoder = *module.decoder;

    // The bytes go into a raw recording first, so that the CSV is made by the
    // one converter that makes it from the application's recordings.
    QTemporaryFile raw(QDir::temp().filePath(QStringLiteral("velmar-cli-XXXXXX.velmarec")));
    if (!raw.open())
        return fail(CliExit::Failure, raw.fileTemplate(), raw.errorString());
    RecordingInfo info;
    info.deviceId = module.identity.deviceId;
    info.hardwareVersion = module.identity.hardwareVersion;
    info.softwareVersion = module.identity.softwareVersion;
    info.sensorsRange = image[RegisterMap::SensorsRange.address];
    info.accFullScale = decoder.accFullScale();
    info.gyroFullScale = decoder.gyroFullScale();
    info.magFullScale = decoder.magFullScale();
    info.magCalibrated = magCalibrated(&image[RegisterMap::MagCalibration.address]);
    info.startUtc = QDateTime::currentDateTimeUtc();
    RawRecordWriter writer(&raw);
    bool written = writer.writeHeader(info);
    qint64 startUs = -1;
    m_link.setFrameTap([&](qint64 timeUs, const QByteArray &frame) {
        if (startUs < 0)
            startUs = timeUs;
        written = writer.writeChunk(timeUs - startUs, frame) && written;
    });
    // Streaming as the live page has it, then back to the mode the module had.
    const quint8 before = image[RegisterMap::Control1.address];
    m_link.write(RegisterMap::Control1.address, QByteArray(1, char(RegisterMap::StreamingAll)));
    QElapsedTimer recording;
    recording.start();
    const qint64 lengthMs = qint64(seconds * 1000);
    // In short steps, so that a port that vanishes ends the recording there.
    while (recording.elapsed() < lengthMs && m_link.failure() == ModuleLink::Failure::None
        && !m_link.portLost())
        ModuleLink::pause(int(qMin<qint64>(100, lengthMs - recording.elapsed())));
    m_link.setFrameTap(nullptr);
    QByteArray held;
    bool restored = !m_link.portLost()
        && m_link.writeAndReadBack(
            RegisterMap::Control1.address, QByteArray(1, char(before)), &held);
    QString lost;
    if (!restored) {
        lost = m_link.error().isEmpty() ? QStringLiteral("the port vanished") : m_link.error();
        // The module keeps streaming until told otherwise: its mode is put
        // back once the port is there again.
        restored = restoreControl1(before, &held);
    }
    if (!written || !raw.flush())
        return fail(CliExit::Failure, raw.fileName(), raw.errorString());

    // What was recorded is kept, a cut-off recording's too.
    if (!rawPath.isEmpty()) {
        const CheckedFile::Loading bytes
            = CheckedFile::load(raw.fileName(), std::numeric_limits<int>::max() - 1);
        if (!bytes.ok())
            return fail(CliExit::Failure, raw.fileName(), bytes.error);
        const QString error = CheckedFile::save(rawPath, bytes.data);
        if (!error.isEmpty())
            return fail(CliExit::Failure, rawPath, error);
    }
    RecordingCsvResult result;
    if (!csvPath.isEmpty()) {
        QTemporaryDir staging;
        if (!staging.isValid())
            return fail(CliExit::Failure, QDir::tempPath(), staging.errorString());
        const QString staged = staging.filePath(QStringLiteral("measurements.csv"));
        result = convertRecordingToCsv(raw.fileName(), staged);
        if (!result.ok)
            return fail(CliExit::Failure, csvPath, result.error);
        const CheckedFile::Loading csv
            = CheckedFile::load(staged, std::numeric_limits<int>::max() - 1);
        if (!csv.ok())
            return fail(CliExit::Failure, csvPath, csv.error);
        if (toStandardOutput) {
            CheckedFile::Stream output;
            output.attachStandardOutput();
            if (!output.write(csv.data) || !output.close())
                return fail(CliExit::Failure, csvPath, output.error());
        } else {
            const QString error = CheckedFile::save(csvPath, csv.data);
            if (!error.isEmpty())
                return fail(CliExit::Failure, csvPath, error);
        }
    } else {
        // Counted as the CSV would count them, without keeping it.
        QTemporaryDir staging;
        if (!staging.isValid())
            return fail(CliExit::Failure, QDir::tempPath(), staging.errorString());
        result = convertRecordingToCsv(
            raw.fileName(), staging.filePath(QStringLiteral("measurements.csv")));
        if (!result.ok)
            return fail(CliExit::Failure, rawPath, result.error);
    }
    // Standard output holds the rows; the summary then goes to standard error.
    QTextStream errorStream(stderr);
    QTextStream &summary = toStandardOutput ? errorStream : out();
    if (m_json && !toStandardOutput)
        printJson(QJsonObject {{QStringLiteral("csv"), csvPath}, {QStringLiteral("raw"), rawPath},
            {QStringLiteral("rows"), result.rows}, {QStringLiteral("frames"), result.frames},
            {QStringLiteral("seconds"), seconds}});
    else if (!m_json) {
        if (!csvPath.isEmpty())
            summary << result.rows << " rows from " << result.frames << " data frames written to "
                    << (toStandardOutput ? QStringLiteral("standard output") : csvPath) << '\n';
        if (!rawPath.isEmpty())
            summary << "raw recording of " << result.frames << " data frames written to " << rawPath
                    << '\n';
    }
    summary.flush();
    if (!lost.isEmpty())
        return fail(CliExit::PortUnavailable, port(),
            QStringLiteral("%1 after %2 s; the %3 rows recorded are kept; \"Control1\" %4")
                .arg(lost)
                .arg(double(recording.elapsed()) / 1000.0, 0, 'f', 1)
                .arg(result.rows)
                .arg(restored ? QStringLiteral("was put back to %1").arg(hexByte(before))
                        : held.isEmpty()
                        ? QStringLiteral("could not be put back to %1 (the port did not "
                                         "return)")
                              .arg(hexByte(before))
                        : QStringLiteral("holds %1 after putting back %2")
                              .arg(hexByte(quint8(held.at(0))), hexByte(before))));
    if (held != QByteArray(1, char(before)))
        return fail(CliExit::Mismatch, port(),
            QStringLiteral("\"Control1\" holds %1 after putting back %2")
                .arg(hexByte(held.isEmpty() ? 0 : quint8(held.at(0))), hexByte(before)));
    return CliExit::Ok;
}

} // namespace Cli
