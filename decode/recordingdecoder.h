// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A raw recording read as a stream of decoded samples, with their times: the
// bytes go through the live link's frame cutter, told the requests the session
// sent, and every frame it takes through the module decoder. The file is read
// a block at a time, so memory stays flat however long the recording.

#include "moduledecoder.h"

#include "record.h"

#include <QFile>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class ComsProtocol;

namespace decode {

class RecordingDecoder
{
public:
    RecordingDecoder();
    ~RecordingDecoder();
    RecordingDecoder(const RecordingDecoder &) = delete;
    RecordingDecoder &operator=(const RecordingDecoder &) = delete;

    // Opens a raw recording and reads its header; false with error() when it
    // cannot be read at all.
    bool open(const QString &path);
    const RecordingInfo &info() const { return m_info; }

    // The next measurement sample (time in µs since the start of the
    // recording); false at the end, or at damage: error() then says where, and
    // everything before it was returned.
    bool next(MeasurementFrame *sample);
    // Up to `max` samples into `out`; fewer only at the end or the damage.
    int read(MeasurementFrame *out, int max);

    // Why reading stopped before the end of the file; empty after a clean end.
    QString error() const { return m_error; }
    // The header's full scales differ from those its range byte gives.
    QString warning() const { return m_warning; }
    // Data frames the cutter took so far (measurement or not).
    qint64 frames() const { return m_frames; }
    // True when the file holds what the live link knew (the requests it
    // sent), so that noise is told from frames by the live rules.
    bool hasLinkState() const { return m_linkState; }

private:
    enum class Step { Record, End, Error };
    Step nextRecord();
    bool fill(std::size_t need);
    Step fail(const QString &message);
    static void onFrame(void *context, quint8 address, quint8 count, const quint8 *data);

    QFile m_file;
    RecordingInfo m_info;
    std::unique_ptr<ComsProtocol> m_cutter;
    ModuleDecoder m_decoder;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0; // unparsed bytes are m_buffer[m_begin, m_end)
    std::size_t m_end = 0;
    bool m_eof = false;
    qint64 m_offset = 0; // file offset of m_buffer[m_begin]
    qint64 m_timeUs = 0; // of the record being fed
    std::deque<MeasurementFrame> m_ready;
    qint64 m_frames = 0;
    bool m_linkState = false;
    bool m_done = false;
    QString m_error;
    QString m_warning;
};

} // namespace decode
