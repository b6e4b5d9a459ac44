// SPDX-License-Identifier: GPL-3.0-or-later
// The soak's bookkeeping of sequence stamps: what it counts as applied, cut,
// repeated or out of order decides whether a soak passes.

#include "soakprobe.h"

#include <QtTest>

#include <array>

namespace {

using Image = std::array<quint8, 176>;

Image frameImage(int stamp, quint8 content = 0x11)
{
    Image image {};
    for (int a = StampTracker::frameStart; a < StampTracker::frameStart + StampTracker::frameLength;
         ++a)
        image[std::size_t(a)] = content;
    image[0x0C] = quint8(stamp & 0xFF);
    image[0x0D] = quint8((stamp >> 8) & 0xFF);
    image[0x18] = quint8(stamp * 7); // the temperature drifts and is not compared
    return image;
}

} // namespace

class SoakProbeTest : public QObject
{
    Q_OBJECT

private slots:
    void consecutiveStampsAreAllApplied()
    {
        StampTracker tracker;
        tracker.setReference(frameImage(1).data());
        for (int s = 1; s <= 5; ++s)
            tracker.look(frameImage(s).data());
        const StampTracker::Totals t = tracker.totals();
        QCOMPARE(t.fresh, quint64(5));
        QCOMPARE(t.skipped, quint64(0));
        QCOMPARE(t.lastStamp, quint64(5));
        QCOMPARE(t.looks, quint64(5));
    }

    void cutFrameCountsAsCorruptAndItsStampAsSkipped()
    {
        StampTracker tracker;
        tracker.setReference(frameImage(1).data());
        tracker.look(frameImage(1).data());
        tracker.look(frameImage(0x4242, 0x99).data()); // frame 2 completed with noise
        tracker.look(frameImage(3).data());
        const StampTracker::Totals t = tracker.totals();
        QCOMPARE(t.corrupt, quint64(1));
        QCOMPARE(t.fresh, quint64(2));
        QCOMPARE(t.skipped, quint64(1));
        QCOMPARE(t.lastStamp, quint64(3));
    }

    void unchangedStampIsARepeatAndStampZeroAnAnswer()
    {
        StampTracker tracker;
        tracker.look(frameImage(1).data());
        tracker.look(frameImage(1).data());
        tracker.look(frameImage(0).data());
        const StampTracker::Totals t = tracker.totals();
        QCOMPARE(t.fresh, quint64(1));
        QCOMPARE(t.repeats, quint64(1));
        QCOMPARE(t.answers, quint64(1));
    }

    void stampsWrapAfter32767()
    {
        StampTracker tracker;
        tracker.look(frameImage(32766).data());
        tracker.look(frameImage(32767).data());
        tracker.look(frameImage(1).data());
        tracker.look(frameImage(3).data());
        const StampTracker::Totals t = tracker.totals();
        QCOMPARE(t.fresh, quint64(4));
        QCOMPARE(t.backwards, quint64(0));
        QCOMPARE(t.skipped, quint64(32765 + 1));
        QCOMPARE(t.lastStamp, quint64(32767 + 3));
    }

    void olderStampAfterNewerIsCountedBackwards()
    {
        StampTracker tracker;
        tracker.look(frameImage(10).data());
        tracker.look(frameImage(9).data());
        tracker.look(frameImage(11).data());
        const StampTracker::Totals t = tracker.totals();
        QCOMPARE(t.backwards, quint64(1));
        QCOMPARE(t.fresh, quint64(2));
        QCOMPARE(t.lastStamp, quint64(11));
    }

    void stampWithTopBitIsCorrupt()
    {
        StampTracker tracker;
        tracker.look(frameImage(0x8001).data());
        QCOMPARE(tracker.totals().corrupt, quint64(1));
        QCOMPARE(tracker.totals().fresh, quint64(0));
    }

    // Streaming writes only its block; a byte changed anywhere else is noise
    // taken for a frame, counted once per change, with its address.
    void changeOutsideTheStreamedBlockIsCountedOnce()
    {
        StampTracker tracker;
        Image image = frameImage(1);
        image[0x36] = 0x08;
        tracker.look(image.data()); // not guarding yet
        tracker.guardOutside();
        QVERIFY(!tracker.totals().guarding);
        image[0x40] = 0x55; // before the reference: part of it
        tracker.look(image.data());
        QVERIFY(tracker.totals().guarding);
        // A new frame, corrupt or not, changes only the block.
        const Image before = image;
        image = frameImage(2, 0x77);
        image[0x36] = before[0x36];
        image[0x40] = before[0x40];
        tracker.look(image.data());
        QCOMPARE(tracker.totals().outsideChanges, quint64(0));
        // The edges of the block: 0x05 and 0x28 lie outside it.
        image[0x05] ^= 1;
        image[0x28] ^= 1;
        image[0x36] = 0x18;
        tracker.look(image.data());
        tracker.look(image.data()); // the same change is not counted again
        QCOMPARE(tracker.totals().outsideChanges, quint64(1));
        QCOMPARE(tracker.changedAddresses(), (std::vector<int> {0x05, 0x28, 0x36}));
        tracker.endGuard();
        image[0x70] = 1;
        tracker.look(image.data());
        QCOMPARE(tracker.totals().outsideChanges, quint64(1));
        QVERIFY(!tracker.totals().guarding);
    }

    void residentMemoryIsReadable() { QVERIFY(residentKilobytes() > 0); }
};

QTEST_GUILESS_MAIN(SoakProbeTest)
#include "tst_soakprobe.moc"
