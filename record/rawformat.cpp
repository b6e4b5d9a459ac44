// SPDX-License-Identifier: GPL-3.0-or-later
#include "record.h"

#include <QFile>
#include <QIODevice>
#include <QtEndian>
#include <cstring>

namespace {

constexpr int magicSize = 8;
constexpr int headerBodyV1 = 26;
// Version 2 adds a byte of flags behind the version 1 fields.
constexpr int headerBodyV2 = headerBodyV1 + 1;
constexpr quint8 flagMagCalibrated = 1;
constexpr int recordHeadSize = 13; // type, time, length

struct CrcTable
{
    quint32 entries[256];
    constexpr CrcTable()
        : entries()
    {
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[i] = c;
        }
    }
};
constexpr CrcTable crcTable;

template <typename T> void put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

void putFloat(QByteArray &out, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    put<quint32>(out, bits);
}

template <typename T> T get(const char *at)
{
    return qFromLittleEndian<T>(at);
}

float getFloat(const char *at)
{
    const quint32 bits = get<quint32>(at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Reads exactly `size` bytes, or as many as there are before the end.
QByteArray readUpTo(QIODevice *device, qint64 size)
{
    QByteArray out;
    out.reserve(int(size));
    while (out.size() < size) {
        const QByteArray part = device->read(size - out.size());
        if (part.isEmpty() && !device->waitForReadyRead(0))
            break;
        out.append(part);
    }
    return out;
}

} // namespace

quint32 recordCrc32(const char *data, qsizetype length, quint32 crc)
{
    crc = ~crc;
    for (qsizetype i = 0; i < length; ++i)
        crc = crcTable.entries[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QByteArray encodeRawHeader(const RecordingInfo &info)
{
    QByteArray out;
    out.reserve(magicSize + 4 + headerBodyV2 + 4);
    out.append(rawMagic, magicSize);
    put<quint16>(out, rawFormatVersion);
    put<quint16>(out, headerBodyV2);
    put<quint8>(out, info.deviceId);
    put<quint16>(out, info.hardwareVersion);
    put<quint16>(out, info.softwareVersion);
    put<quint8>(out, info.sensorsRange);
    putFloat(out, info.accFullScale);
    putFloat(out, info.gyroFullScale);
    putFloat(out, info.magFullScale);
    put<qint64>(out, info.startUtc.isValid() ? info.startUtc.toMSecsSinceEpoch() : 0);
    put<quint8>(out, info.magCalibrated ? flagMagCalibrated : 0);
    put<quint32>(out, recordCrc32(out.constData(), out.size()));
    return out;
}

QByteArray encodeRawRecord(RawRecordType type, qint64 timeUs, const QByteArray &payload)
{
    QByteArray out;
    out.reserve(recordHeadSize + payload.size() + 4);
    put<quint8>(out, quint8(type));
    put<qint64>(out, timeUs);
    put<quint32>(out, quint32(payload.size()));
    out.append(payload);
    put<quint32>(out, recordCrc32(out.constData(), out.size()));
    return out;
}

bool RawRecordWriter::put(const QByteArray &bytes)
{
    return m_device->write(bytes) == bytes.size();
}

bool RawRecordWriter::writeHeader(const RecordingInfo &info)
{
    return put(encodeRawHeader(info));
}

bool RawRecordWriter::writeChunk(qint64 timeUs, const QByteArray &bytes)
{
    return put(encodeRawRecord(RawRecordType::Chunk, timeUs, bytes));
}

bool RawRecordWriter::writeNote(qint64 timeUs, const QString &text)
{
    return put(encodeRawRecord(RawRecordType::Note, timeUs, text.toUtf8()));
}

bool RawRecordWriter::writeRequest(qint64 timeUs, const QByteArray &frame)
{
    return put(encodeRawRecord(RawRecordType::Request, timeUs, frame));
}

bool RawRecordWriter::writeConnection(qint64 timeUs)
{
    return put(encodeRawRecord(RawRecordType::Connection, timeUs, QByteArray()));
}

RawRecordReader::Status RawRecordReader::fail(const QString &message)
{
    m_error = message;
    return Status::Error;
}

bool RawRecordReader::readHeader()
{
    m_error.clear();
    const QByteArray head = readUpTo(m_device, magicSize + 4);
    if (head.size() < magicSize || std::memcmp(head.constData(), rawMagic, magicSize) != 0) {
        m_error = QStringLiteral("Not a Velmar IMU raw recording (the file does not start with "
                                 "\"VELMAREC\")");
        return false;
    }
    if (head.size() < magicSize + 4) {
        m_error = QStringLiteral("The raw recording's header is truncated");
        return false;
    }
    const quint16 version = get<quint16>(head.constData() + magicSize);
    const quint16 bodySize = get<quint16>(head.constData() + magicSize + 2);
    if (version == 0 || version > rawFormatVersion) {
        m_error = QStringLiteral("Raw recording format version %1 is not supported (this program "
                                 "reads version %2)")
                      .arg(version)
                      .arg(rawFormatVersion);
        return false;
    }
    const QByteArray rest = readUpTo(m_device, bodySize + 4);
    if (rest.size() < bodySize + 4) {
        m_error = QStringLiteral("The raw recording's header is truncated");
        return false;
    }
    if (bodySize < headerBodyV1) {
        m_error = QStringLiteral("The raw recording's header is damaged (too short)");
        return false;
    }
    const QByteArray whole = head + rest.left(bodySize);
    if (recordCrc32(whole.constData(), whole.size()) != get<quint32>(rest.constData() + bodySize)) {
        m_error = QStringLiteral("The raw recording's header is damaged (checksum mismatch)");
        return false;
    }
    const char *b = rest.constData();
    m_info.deviceId = get<quint8>(b);
    m_info.hardwareVersion = get<quint16>(b + 1);
    m_info.softwareVersion = get<quint16>(b + 3);
    m_info.sensorsRange = get<quint8>(b + 5);
    m_info.accFullScale = getFloat(b + 6);
    m_info.gyroFullScale = getFloat(b + 10);
    m_info.magFullScale = getFloat(b + 14);
    m_info.startUtc = QDateTime::fromMSecsSinceEpoch(get<qint64>(b + 18), Qt::UTC);
    m_info.magCalibrated = bodySize >= headerBodyV2 && (get<quint8>(b + 26) & flagMagCalibrated);
    m_offset = whole.size() + 4;
    return true;
}

RawRecordReader::Status RawRecordReader::next(RawRecord &record)
{
    const QByteArray head = readUpTo(m_device, recordHeadSize);
    if (head.isEmpty())
        return Status::End;
    const auto truncated = [this] {
        return fail(QStringLiteral("The raw recording ends in the middle of a record at byte %1; "
                                   "everything before it was read")
                        .arg(m_offset));
    };
    if (head.size() < recordHeadSize)
        return truncated();
    const quint8 type = get<quint8>(head.constData());
    const quint32 length = get<quint32>(head.constData() + 9);
    if (!isKnownRawRecordType(type) || length > rawMaxPayload) {
        return fail(QStringLiteral("The raw recording is damaged at byte %1 (not a record); "
                                   "everything before it was read")
                        .arg(m_offset));
    }
    const QByteArray rest = readUpTo(m_device, qint64(length) + 4);
    if (rest.size() < qint64(length) + 4)
        return truncated();
    quint32 crc = recordCrc32(head.constData(), head.size());
    crc = recordCrc32(rest.constData(), length, crc);
    if (crc != get<quint32>(rest.constData() + length)) {
        return fail(QStringLiteral("The raw recording is damaged at byte %1 (checksum mismatch); "
                                   "everything before it was read")
                        .arg(m_offset));
    }
    record.type = RawRecordType(type);
    record.timeUs = get<qint64>(head.constData() + 1);
    record.payload = rest.left(int(length));
    m_offset += recordHeadSize + length + 4;
    return Status::Record;
}

RawRecording readRawRecording(QIODevice *device)
{
    RawRecording out;
    RawRecordReader reader(device);
    if (!reader.readHeader()) {
        out.error = reader.errorString();
        return out;
    }
    out.headerValid = true;
    out.info = reader.info();
    RawRecord record;
    for (;;) {
        const auto status = reader.next(record);
        if (status == RawRecordReader::Status::End)
            break;
        if (status == RawRecordReader::Status::Error) {
            out.error = reader.errorString();
            break;
        }
        out.records.append(record);
    }
    return out;
}

RawRecording readRawRecording(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        RawRecording out;
        out.error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return out;
    }
    return readRawRecording(&file);
}
