// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "simtypes.h"

#include <QByteArray>

#include <deque>
#include <random>

// The module's transmit side: messages become chunks with the line faults
// applied (noise, status messages, splits, truncations, cuts), and chunks leave no
// faster than the line rate. Used by the simulator thread only.
class OutputLine
{
public:
    enum class Kind { Answer, Stream, Status, Noise };

    struct Chunk
    {
        QByteArray bytes;
        double gapBefore = 0; // silence after the line became free, seconds
        Kind kind = Kind::Noise;
        bool endsFrame = false; // the last chunk of a data frame
        bool intact = true;
        bool headerShaped = false; // noise shaped as a data frame header
        bool unpadded = false; // a cut frame with nothing filling its gap
    };

    explicit OutputLine(double bytesPerSecond);

    void setFaults(const SimFaults &faults);
    // A data frame; with `stampGuard` > 0 a truncation keeps at most that many
    // data bytes, so a stamp placed there never reaches the line.
    void enqueueFrame(const QByteArray &frame, Kind kind, int stampGuard = 0);
    bool isEmpty() const { return m_queue.empty(); }
    void clear() { m_queue.clear(); }

    // When the front chunk may go out (seconds on the caller's clock).
    double nextSendTime() const;
    const Chunk &front() const { return m_queue.front(); }
    // Records that `count` bytes of the front chunk were written at `now`;
    // returns true when that completed the chunk (it is then removed into `done`).
    bool consumed(int count, double now, Chunk *done);
    double lineFreeAt() const { return m_lineFreeAt; }

private:
    void pushNoise(int count, double gapBefore, bool raw = false);
    void pushHeaderNoise();

    std::deque<Chunk> m_queue;
    double m_bytesPerSecond;
    double m_lineFreeAt = 0;
    bool m_frontStarted = false;
    SimFaults m_faults;
    std::mt19937_64 m_rng {7};
    quint64 m_seed = 7;
};
