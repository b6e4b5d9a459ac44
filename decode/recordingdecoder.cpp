// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingdecoder.h"

#include "comsprotocol.h"

#include <QtEndian>

#include <cstring>

namespace decode {

namespace {
constexpr std::size_t blockSize = 1 << 20;
constexpr std::size_t recordHeadSize = 13; // type, time, length
constexpr std::size_t crcSize = 4;

// The cutter ages awaited answers on a clock; offline that clock is the
// recording's own time, set before each record is fed.
thread_local qint64 t_recordingMs = 0;
qint64 recordingClock()
{
    return t_recordingMs;
}
} // namespace

RecordingDecoder::RecordingDecoder()
    : m_cutter(std::make_unique<ComsProtocol>())
{
    m_cutter->setFrameObserver(&RecordingDecoder::onFrame, this);
    m_cutter->setClock(&recordingClock);
}

RecordingDecoder::~RecordingDecoder() = default;

bool RecordingDecoder::open(const QString &path)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("Cannot open %1: %2").arg(path, m_file.errorString());
        return false;
    }
    RawRecordReader header(&m_file);
    if (!header.readHeader()) {
        m_error = header.errorString();
        return false;
    }
    m_info = header.info();
    m_offset = m_file.pos();
    m_buffer.resize(blockSize);

    // The header says which ranges were in force when the recording began.
    if (m_info.accFullScale > 0 || m_info.gyroFullScale > 0 || m_info.magFullScale > 0) {
        m_decoder.setHardwareVersion(m_info.hardwareVersion);
        m_decoder.applyRange(m_info.sensorsRange);
        const FullScales &scales = m_decoder.fullScales();
        auto differs = [](float header, float decoded) { return header > 0 && header != decoded; };
        if (differs(m_info.accFullScale, scales.acc) || differs(m_info.gyroFullScale, scales.gyro)
            || differs(m_info.magFullScale, scales.mag))
            m_warning
                = QStringLiteral("the header's full scales differ from those its range byte gives; "
                                 "the range byte is used, as the application does");
    }
    return true;
}

void RecordingDecoder::onFrame(void *context, quint8 address, quint8 count, const quint8 *data)
{
    auto *self = static_cast<RecordingDecoder *>(context);
    ++self->m_frames;
    MeasurementFrame sample;
    if (self->m_decoder.decodeFrame(address, data, count, &sample)) {
        sample.timeUs = self->m_timeUs;
        self->m_ready.push_back(sample);
    }
}

bool RecordingDecoder::fill(std::size_t need)
{
    if (m_end - m_begin >= need)
        return true;
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_buffer.size() < need)
        m_buffer.resize(need);
    while (!m_eof && m_end < need) {
        const qint64 got = m_file.read(m_buffer.data() + m_end, qint64(m_buffer.size() - m_end));
        if (got <= 0)
            m_eof = true;
        else
            m_end += std::size_t(got);
    }
    return m_end - m_begin >= need;
}

RecordingDecoder::Step RecordingDecoder::fail(const QString &message)
{
    m_error = message;
    return Step::Error;
}

RecordingDecoder::Step RecordingDecoder::nextRecord()
{
    const auto truncated = [this] {
        return fail(QStringLiteral("The raw recording ends in the middle of a record at byte %1; "
                                   "everything before it was read")
                        .arg(m_offset));
    };
    if (!fill(recordHeadSize)) {
        if (m_end == m_begin)
            return Step::End;
        return truncated();
    }
    const char *head = m_buffer.data() + m_begin;
    const quint8 type = quint8(head[0]);
    const quint32 length = qFromLittleEndian<quint32>(head + 9);
    if (!isKnownRawRecordType(type) || length > rawMaxPayload)
        return fail(QStringLiteral("The raw recording is damaged at byte %1 (not a record); "
                                   "everything before it was read")
                        .arg(m_offset));
    const std::size_t whole = recordHeadSize + length + crcSize;
    if (!fill(whole))
        return truncated();
    head = m_buffer.data() + m_begin;
    const quint32 crc = recordCrc32(head, qsizetype(recordHeadSize + length));
    if (crc != qFromLittleEndian<quint32>(head + recordHeadSize + length))
        return fail(QStringLiteral("The raw recording is damaged at byte %1 (checksum mismatch); "
                                   "everything before it was read")
                        .arg(m_offset));
    m_timeUs = qFromLittleEndian<qint64>(head + 1);
    t_recordingMs = m_timeUs / 1000;
    const char *payload = head + recordHeadSize;
    switch (RawRecordType(type)) {
    case RawRecordType::Chunk:
        m_cutter->appendReceived(payload, qint32(length));
        m_cutter->extractFrames();
        break;
    case RawRecordType::Request:
        m_cutter->noteRequestSent(reinterpret_cast<const quint8 *>(payload), int(length));
        break;
    case RawRecordType::Connection:
        // From here on the cutter takes only what the module may send.
        m_linkState = true;
        m_cutter->beginConnection();
        break;
    case RawRecordType::Note:
        break;
    }
    m_begin += whole;
    m_offset += qint64(whole);
    return Step::Record;
}

bool RecordingDecoder::next(MeasurementFrame *sample)
{
    while (m_ready.empty()) {
        if (m_done || !m_file.isOpen())
            return false;
        if (nextRecord() != Step::Record) {
            m_done = true;
            return false;
        }
    }
    *sample = m_ready.front();
    m_ready.pop_front();
    return true;
}

int RecordingDecoder::read(MeasurementFrame *out, int max)
{
    int n = 0;
    while (n < max && next(out + n))
        ++n;
    return n;
}

} // namespace decode
