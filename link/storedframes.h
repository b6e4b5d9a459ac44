// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <array>
#include <functional>
#include <vector>

// Every data frame the cutter stored since the GUI thread last took them, in
// order. The register image alone keeps only the latest value of each
// register: when the processing thread cuts several streamed frames before
// the GUI thread gets to them (a loaded machine, a burst on the line), all but
// the last would never reach the backend. Bounded: past `limit` frames only
// their number is kept, and the latest image stands in for them.
class StoredFrames
{
public:
    // About seven seconds at the line limit.
    static constexpr int limit = 2048;

    void add(quint8 address, const quint8 *data, int count);
    void clear();
    bool isEmpty() const { return m_stored == 0; }
    // Frames stored since the last clear, kept or not.
    quint64 stored() const { return m_stored; }
    bool overflowed() const { return m_stored > quint64(m_starts.size()); }

    // Replays the kept frames onto `image` (the image as it was before the
    // first of them), dispatching each frame's blocks within [first, end) in
    // turn as the dispatch pass would have right after it. Returns the number
    // of handler calls.
    int dispatch(quint8 *image, int imageSize, int first, int end,
        const std::function<void(int blockIndex, const quint8 *block)> &handler) const;

private:
    struct Start
    {
        quint8 address;
        quint8 count;
        quint32 offset; // into m_bytes
    };
    std::vector<Start> m_starts;
    std::vector<quint8> m_bytes;
    quint64 m_stored = 0;
};
