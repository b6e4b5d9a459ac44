// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingcsv.h"

#include "comsprotocol.h"
#include "durUzaBackend.h"
#include "record.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QSaveFile>

#include <vector>

namespace {

// The CSV's blocks: accelerometer at 0x06 up to the Euler angles ending at 0x27.
constexpr int measurementFirst = 0x06;
constexpr int measurementEnd = 0x28;
constexpr int temperatureAddress = 0x18;
constexpr int passTimeoutMs = 10000;

struct TakenFrame
{
    qint64 timeUs;
    QByteArray bytes; // BB a n data, as the cutter took it
};

struct CutContext
{
    qint64 timeUs = 0;
    std::vector<TakenFrame> *frames = nullptr;
};

void collectFrame(void *context, quint8 address, quint8 count, const quint8 *data)
{
    auto *cut = static_cast<CutContext *>(context);
    QByteArray bytes;
    bytes.reserve(3 + count);
    bytes.append(char(0xBB));
    bytes.append(char(address));
    bytes.append(char(count));
    bytes.append(reinterpret_cast<const char *>(data), count);
    cut->frames->push_back({cut->timeUs, bytes});
}

bool overlaps(int address, int count, int first, int end)
{
    return address < end && address + count > first && address < ComsProtocol::ImageSize;
}

// Counts the processing passes whose result reached the GUI thread: every
// chunk fed to an idle link makes one pass, which hands over with one queued
// call to the link object; once that call has run, the dispatch is done.
class PassCounter : public QObject
{
public:
    qint64 handed = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++handed;
        return false;
    }
};

// Drops the backend's chatter ("ACC Range Unknown!" and the like) while
// converting; warnings still reach standard error.
QtMessageHandler previousHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}
struct QuietLog
{
    QuietLog() { previousHandler = qInstallMessageHandler(quietHandler); }
    ~QuietLog() { qInstallMessageHandler(previousHandler); }
};

} // namespace

RecordingCsvResult convertRecordingToCsv(const QString &rawPath, const QString &csvPath)
{
    RecordingCsvResult result;
    const RawRecording recording = readRawRecording(rawPath);
    if (!recording.headerValid) {
        result.error = recording.error;
        return result;
    }

    // Cut the chunks as the live link does, one pass per received chunk; the
    // cutter knows nothing of requests here, so it takes every whole frame.
    std::vector<TakenFrame> frames;
    {
        ComsProtocol cutter;
        CutContext context;
        context.frames = &frames;
        cutter.setFrameObserver(&collectFrame, &context);
        for (const RawRecord &record : recording.records) {
            if (record.type != RawRecordType::Chunk)
                continue;
            context.timeUs = record.timeUs;
            cutter.appendReceived(record.payload.constData(), record.payload.size());
            cutter.extractFrames();
        }
    }
    result.frames = qint64(frames.size());

    QSaveFile file(csvPath);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = QStringLiteral("cannot write %1: %2").arg(csvPath, file.errorString());
        return result;
    }
    CsvWriter csv(&file);
    if (!csv.writeHeader()) {
        result.error = QStringLiteral("cannot write %1: %2").arg(csvPath, file.errorString());
        return result;
    }

    const QuietLog quiet;
    DurUzaBackend backend;
    PassCounter passes;
    backend.comsHandler()->installEventFilter(&passes);
    unsigned decoded = 0;
    QObject::connect(
        &backend, &DurUzaBackend::accDataListChanged, [&] { decoded |= MeasurementFrame::Acc; });
    QObject::connect(
        &backend, &DurUzaBackend::gyroDataListChanged, [&] { decoded |= MeasurementFrame::Gyro; });
    QObject::connect(
        &backend, &DurUzaBackend::magDataListChanged, [&] { decoded |= MeasurementFrame::Mag; });
    QObject::connect(&backend, &DurUzaBackend::eulerDataListChanged,
        [&] { decoded |= MeasurementFrame::Euler; });
    QObject::connect(&backend, &DurUzaBackend::quatDataListChanged,
        [&] { decoded |= MeasurementFrame::Quaternion; });
    const auto *temperatureRow = qobject_cast<RegistryItemModel *>(
        backend.registers().value(registerRowAt(temperatureAddress)));

    // One frame at a time through the link, waiting for its dispatch, so that
    // frames cut in one pass are not folded into one sample.
    qint64 fed = 0;
    auto decode = [&](const QByteArray &bytes) {
        decoded = 0;
        backend.comsHandler()->feedReceived(bytes);
        ++fed;
        QElapsedTimer waited;
        waited.start();
        while (passes.handed < fed) {
            if (waited.elapsed() > passTimeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        return true;
    };

    const RecordingInfo &info = recording.info;
    // The header says which ranges were in force when the recording began; the
    // backend learns them as it would from the module: version, then range.
    if (info.accFullScale > 0 || info.gyroFullScale > 0 || info.magFullScale > 0) {
        const QByteArray version = QByteArray::fromRawData("\xBB\x02\x02", 3)
            + char(info.hardwareVersion & 0xFF) + char(info.hardwareVersion >> 8);
        const QByteArray range
            = QByteArray::fromRawData("\xBB\x36\x01", 3) + char(info.sensorsRange);
        if (!decode(version) || !decode(range)) {
            result.error = QStringLiteral("the link did not hand over a frame within %1 s")
                               .arg(passTimeoutMs / 1000);
            return result;
        }
        auto differs
            = [](float header, float decodedScale) { return header > 0 && header != decodedScale; };
        if (differs(info.accFullScale, backend.accFullScale())
            || differs(info.gyroFullScale, backend.gyroFullScale())
            || differs(info.magFullScale, backend.magFullScale()))
            result.warning
                = QStringLiteral("the header's full scales differ from those its range byte gives; "
                                 "the range byte is used, as the application does");
    }

    for (const TakenFrame &frame : frames) {
        const int address = quint8(frame.bytes[1]);
        const int count = quint8(frame.bytes[2]);
        if (!decode(frame.bytes)) {
            result.error = QStringLiteral("the link did not hand over a frame within %1 s")
                               .arg(passTimeoutMs / 1000);
            return result;
        }
        if (!overlaps(address, count, measurementFirst, measurementEnd))
            continue;
        MeasurementFrame row;
        row.timeUs = frame.timeUs;
        row.present = decoded;
        auto take = [](const QVariantList &list, float *out, int n) {
            for (int i = 0; i < n; ++i)
                out[i] = list.value(i).toFloat();
        };
        if (decoded & MeasurementFrame::Acc)
            take(backend.accDataList(), row.acc.data(), 3);
        if (decoded & MeasurementFrame::Gyro)
            take(backend.gyroDataList(), row.gyro.data(), 3);
        if (decoded & MeasurementFrame::Mag)
            take(backend.magDataList(), row.mag.data(), 3);
        if (decoded & MeasurementFrame::Euler)
            take(backend.eulerDataList(), row.euler.data(), 3);
        if (decoded & MeasurementFrame::Quaternion)
            take(backend.quatDataList(), row.quat.data(), 4);
        if (temperatureRow
            && overlaps(address, count, temperatureAddress, temperatureAddress + 2)) {
            row.present |= MeasurementFrame::Temperature;
            row.temperature = temperatureRow->data().toDouble();
        }
        if (!csv.writeFrame(row)) {
            result.error = QStringLiteral("cannot write %1: %2").arg(csvPath, file.errorString());
            return result;
        }
        ++result.rows;
    }
    if (!file.commit()) {
        result.error = QStringLiteral("cannot write %1: %2").arg(csvPath, file.errorString());
        return result;
    }
    if (!recording.error.isEmpty()) {
        // Everything before the damage is in the CSV; say what was left out.
        result.error = recording.error;
        return result;
    }
    result.ok = true;
    return result;
}
