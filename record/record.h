// SPDX-License-Identifier: GPL-3.0-or-later
// Recording what the module sends: the raw byte log, the CSV of decoded
// measurements, and the Recorder that writes both off the caller's thread.
//
// Raw recording format, version 2 (all integers little-endian; FORMAT.md has
// the same description with a worked example; version 1 is version 2 without
// record types 3 and 4):
//
//   File header
//     offset  size  field
//     0       8     magic "VELMAREC"
//     8       2     format version (1)
//     10      2     body length B (26 in versions 1 and 2; a reader skips any extra)
//     12      1     device id ("Device ID")
//     13      2     hardware version
//     15      2     software version
//     17      1     sensors range byte ("Sensors Range" as received)
//     18      4     accelerometer full scale, float32, m/s²  (-1: not decoded)
//     22      4     gyroscope full scale, float32, deg/s    (-1: not decoded)
//     26      4     magnetometer full scale, float32, module units (-1: not decoded)
//     30      8     start time, int64, milliseconds since 1970-01-01 00:00 UTC
//     12+B    4     CRC-32 (IEEE, as zlib) of all header bytes before it
//
//   Then records, back to back until the end of the file:
//     0       1     type: 1 = received chunk, 2 = note (UTF-8 text),
//                   3 = request sent to the module (its bytes), 4 = the link
//                   began a connection (empty): from there on it took only
//                   the frames the module may send
//     1       8     receive time, int64, microseconds since the start
//                   (monotonic clock, so it never jumps with the wall clock)
//     9       4     payload length N (at most 16 MiB)
//     13      N     payload: the chunk's bytes exactly as received, or the note
//     13+N    4     CRC-32 of the record's bytes before it
//
// Records are written whole and the files are flushed at least once a second,
// so a crash loses at most the last second; a reader returns every whole
// record before a truncated or damaged one and then says what is wrong.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>
#include <array>
#include <atomic>
#include <memory>

class QIODevice;
class QThread;

// What the raw file's header says about the module and the recording.
struct RecordingInfo
{
    quint8 deviceId = 0;
    quint16 hardwareVersion = 0;
    quint16 softwareVersion = 0;
    quint8 sensorsRange = 0;
    float accFullScale = -1.0f;
    float gyroFullScale = -1.0f;
    float magFullScale = -1.0f;
    // The module's magnetometer calibration differs from the factory default:
    // its field is relative to the local field (names the CSV's unit only).
    bool magCalibrated = false;
    QDateTime startUtc; // millisecond precision survives the round trip
};

enum class RawRecordType : quint8 { Chunk = 1, Note = 2, Request = 3, Connection = 4 };
constexpr bool isKnownRawRecordType(quint8 type)
{
    return type >= quint8(RawRecordType::Chunk) && type <= quint8(RawRecordType::Connection);
}

struct RawRecord
{
    RawRecordType type = RawRecordType::Chunk;
    qint64 timeUs = 0;
    QByteArray payload;
};

constexpr char rawMagic[] = "VELMAREC";
constexpr quint16 rawFormatVersion = 2;
constexpr quint32 rawMaxPayload = 16u << 20;

quint32 recordCrc32(const char *data, qsizetype length, quint32 crc = 0);

// Encodes header and records; both return whole byte strings so that a
// writer can put a record out in one piece and know where each one ends.
QByteArray encodeRawHeader(const RecordingInfo &info);
QByteArray encodeRawRecord(RawRecordType type, qint64 timeUs, const QByteArray &payload);

// Writes a raw recording to a device, a record at a time, each whole or not
// at all as far as the device reports; false once a write failed.
class RawRecordWriter
{
public:
    explicit RawRecordWriter(QIODevice *device)
        : m_device(device)
    { }
    bool writeHeader(const RecordingInfo &info);
    bool writeChunk(qint64 timeUs, const QByteArray &bytes);
    bool writeNote(qint64 timeUs, const QString &text);
    bool writeRequest(qint64 timeUs, const QByteArray &frame);
    bool writeConnection(qint64 timeUs);

private:
    bool put(const QByteArray &bytes);
    QIODevice *m_device;
};

// Streams a raw recording from a device positioned at its start.
class RawRecordReader
{
public:
    enum class Status { Record, End, Error };

    explicit RawRecordReader(QIODevice *device)
        : m_device(device)
    { }
    // Reads and checks the header; false with errorString() when it is not one.
    bool readHeader();
    // Record: `record` holds the next one. End: clean end of file. Error: the
    // bytes from the reported offset on are truncated or damaged.
    Status next(RawRecord &record);
    const RecordingInfo &info() const { return m_info; }
    QString errorString() const { return m_error; }

private:
    Status fail(const QString &message);
    QIODevice *m_device;
    RecordingInfo m_info;
    QString m_error;
    qint64 m_offset = 0;
};

// A whole raw file in memory: `error` is empty when the file ended cleanly;
// otherwise `records` still holds every whole record before the damage.
struct RawRecording
{
    bool headerValid = false;
    RecordingInfo info;
    QVector<RawRecord> records;
    QString error;
};
RawRecording readRawRecording(QIODevice *device);
RawRecording readRawRecording(const QString &path);

// One decoded measurement frame for the CSV. Values are in the units the
// charts show: m/s², deg/s, the magnetometer's own unit, degrees, °C.
struct MeasurementFrame
{
    enum Field : unsigned {
        Acc = 1,
        Gyro = 2,
        Mag = 4,
        Euler = 8,
        Quaternion = 16,
        Temperature = 32,
    };
    qint64 timeUs = 0; // since the start of the recording
    unsigned present = 0; // Field bits of the values this frame carried
    std::array<float, 3> acc {};
    std::array<float, 3> gyro {};
    std::array<float, 3> mag {};
    std::array<float, 3> euler {}; // roll, pitch, yaw
    std::array<float, 4> quat {}; // w (scalar), x, y, z
    double temperature = 0.0;
};

// CSV: comma separated, '.' as decimal point whatever the locale, "\n" line
// ends, one header row, then one row per frame with empty cells for values
// the frame did not carry. Floats use the shortest text that reads back to
// the same float; the time has microsecond resolution.
// The magnetometer's columns carry the unit magUnitColumn() names: gauss,
// or relative to the local field once the module holds a calibration.
QByteArray csvHeaderRow(bool magCalibrated = false); // with trailing newline
QByteArray csvRow(const MeasurementFrame &frame); // with trailing newline
int csvColumnCount();

// Writes the CSV to a device: the header row first, then a row per frame.
class CsvWriter
{
public:
    explicit CsvWriter(QIODevice *device)
        : m_device(device)
    { }
    bool writeHeader(bool magCalibrated = false);
    bool writeFrame(const MeasurementFrame &frame);

private:
    bool put(const QByteArray &bytes);
    QIODevice *m_device;
};

class RecorderWorker;
struct RecorderQueue;

// Writes a recording folder holding the raw file and the CSV. Lives on the
// thread that creates it (the GUI thread); the writing runs on a thread of
// its own. appendChunk, appendFrame, noteGap and elapsedUs may be called from
// any thread and only take a short lock to queue; everything else belongs to
// the owner's thread. Status updates and errors come as signals on the
// owner's thread.
class Recorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool recording READ isRecording NOTIFY recordingChanged)
    Q_PROPERTY(QString folder READ folder NOTIFY recordingChanged)
    Q_PROPERTY(qint64 elapsedMs READ elapsedMs NOTIFY statusChanged)
    Q_PROPERTY(qint64 framesWritten READ framesWritten NOTIFY statusChanged)
    Q_PROPERTY(qint64 bytesOnDisk READ bytesOnDisk NOTIFY statusChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY failed)

public:
    static constexpr const char *rawFileName = "raw.velmarec";
    static constexpr const char *csvFileName = "measurements.csv";

    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    // Starts a recording in `baseFolder`/`name` (name defaults to the local
    // date and time, "yyyy-MM-dd_HH-mm-ss", with "-2", "-3"… if it exists).
    // Returns the folder's path at once; the folder is created and the files
    // opened on the writing thread: `started` or `failed` follows.
    // Returns an empty string if a recording is already running.
    QString start(
        const QString &baseFolder, const RecordingInfo &info, const QString &name = QString());
    // Writes what is queued and closes the files; `stopped` follows.
    void stop();

    // Microseconds since start() on the monotonic clock; any thread.
    qint64 elapsedUs() const;
    // Any thread. A chunk as received, stamped now or at `timeUs`.
    void appendChunk(const QByteArray &bytes);
    void appendChunk(qint64 timeUs, const QByteArray &bytes);
    // Any thread. What the link knew: a request it sent to the module, or that
    // it began a connection; offline decoding then takes the same frames.
    void appendRequest(qint64 timeUs, const QByteArray &frame);
    void noteConnection(qint64 timeUs);
    // Any thread. One decoded frame, one CSV row.
    void appendFrame(const MeasurementFrame &frame);
    // Any thread. A note in the raw file, e.g. "port vanished", stamped now or
    // at `timeUs`.
    void noteGap(const QString &text);
    void noteGap(qint64 timeUs, const QString &text);
    // Any thread. The recording's time (µs since start(), never below 0) of a
    // moment on the steady clock, given in nanoseconds since its epoch.
    qint64 sinceStartUs(qint64 steadyNs) const;

    bool isRecording() const { return m_recording; }
    QString folder() const { return m_folder; }
    qint64 elapsedMs() const { return m_elapsedMs; }
    qint64 framesWritten() const { return m_framesWritten; }
    qint64 bytesOnDisk() const { return m_bytesOnDisk; }
    QString errorString() const { return m_error; }

signals:
    void started(const QString &folder);
    void stopped();
    // Once, with what went wrong; the recording has stopped and the files hold
    // every whole record written before the fault.
    void failed(const QString &message);
    void recordingChanged();
    // About once a second while recording, and once more at the end.
    void statusChanged();

private:
    void onProgress(qint64 elapsedMs, qint64 frames, qint64 bytes);
    void onFailed(const QString &message);
    void onFinished();

    std::shared_ptr<RecorderQueue> m_queue;
    QThread *m_thread = nullptr;
    RecorderWorker *m_worker = nullptr;
    bool m_recording = false;
    QString m_folder;
    qint64 m_elapsedMs = 0;
    qint64 m_framesWritten = 0;
    qint64 m_bytesOnDisk = 0;
    QString m_error;
};
