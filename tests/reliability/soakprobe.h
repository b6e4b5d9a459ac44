// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <array>
#include <mutex>
#include <vector>

// Follows the sequence stamps of streamed measurement frames (raw "Gyroscope X",
// 1, 2, ... 32767 and round again) as they appear in the register image.
//
// The soak looks at the image each time the frame cutter consumes a status
// message and the simulator puts one before every message it sends, so each
// look sees the frame cut just before it: a frame that was applied shows up as
// a fresh stamp, one that was not leaves the previous stamp (or a gap). A cut
// frame that the cutter completed with line noise shows up as corrupt content.
class StampTracker
{
public:
    static constexpr int stampCycle = 32767;
    static constexpr int stampAddress = 0x0C;
    // A streamed frame covers the accelerometer through the Euler angles.
    static constexpr int frameStart = 0x06;
    static constexpr int frameLength = 34;

    struct Totals
    {
        quint64 looks = 0;
        quint64 fresh = 0; // a stamp not seen before: one more frame applied
        quint64 repeats = 0; // nothing streamed was applied since the last look
        quint64 corrupt = 0; // content that no intact frame carries
        quint64 answers = 0; // stamp 0: a read answer, not a streamed frame
        quint64 backwards = 0; // an older stamp after a newer one: must stay 0
        quint64 skipped = 0; // stamps jumped over between fresh ones
        quint64 lastStamp = 0; // counted from 1 without wrapping
        bool guarding = false; // the registers outside the block are watched
        quint64 outsideChanges = 0; // looks that found them changed: must stay 0
    };
    static constexpr int imageSize = 176;

    // The content every intact streamed frame of a module held still carries,
    // apart from the stamp and the slowly drifting temperature. Until it is set,
    // content is not checked.
    void setReference(const quint8 *image);
    void look(const quint8 *image);
    Totals totals() const;

    // Watches every register outside the streamed block (ranges, calibration
    // mirrors, Control1, ...), which streaming must never change: the first
    // look after guardOutside() takes their content as the reference, and each
    // later change counts once (the changed content becomes the reference).
    // endGuard() stops watching, e.g. before a read rewrites the map.
    void guardOutside();
    void endGuard();
    // The addresses seen changed, in order.
    std::vector<int> changedAddresses() const;

private:
    bool contentMatches(const quint8 *image) const;
    void watchOutside(const quint8 *image);

    mutable std::mutex m_lock; // looks come from the processing thread
    std::array<quint8, frameLength> m_reference {};
    bool m_hasReference = false;
    int m_last = 0;
    Totals m_totals;
    bool m_guardArmed = false;
    std::array<quint8, imageSize> m_outside {};
    std::array<bool, imageSize> m_changed {};
};

// Resident memory of this process in kilobytes (0 where /proc is missing).
long residentKilobytes();
