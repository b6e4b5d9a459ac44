// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linkcounters.h"
#include "receivetap.h"
#include "registermap.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <functional>

class ComsProtocol;
class ComsSlave;
class ProcessThread;
class QByteArray;

// The link object the backend owns: protocol state, serial worker and
// processing thread, plus the dispatch pass that hands updated register blocks
// to the block handler on the GUI thread.
class ComsHandler : public QObject
{
    Q_OBJECT
public:
    // Called on the GUI thread once per updated block, in address order, with the
    // block's index in registerBlocks and a pointer to the block's first byte. The
    // pointer is valid only during the call (it points into a snapshot).
    using BlockHandler = std::function<void(int blockIndex, const quint8 *block)>;

    explicit ComsHandler(QObject *parent = nullptr);
    ~ComsHandler() override;

    void setBlockHandler(BlockHandler handler);
    // Build requests here on the GUI thread. The image and flags behind it are
    // written by the processing thread: read them through registerImageSnapshot().
    ComsProtocol *protocol();
    // Returns at once: a frame sent while the port is being opened goes out
    // when it is open (see ComsSlave::serialWrite). Reads sent here are what
    // the cutter then expects from the module.
    void sendFrame(const quint8 *data, quint8 length);

    // Test seam: `gate` runs on the serial worker right before it opens a port.
    void setPortOpenGate(std::function<void()> gate);
    bool isPortOpen() const;

    // A consistent copy of the register image, taken under the processing lock.
    std::array<quint8, RegisterMap::Size> registerImageSnapshot() const;

    // Hands bytes to the processing thread exactly as if the port had received
    // them. Lets tests and tools drive the frame path without a port.
    void feedReceived(const QByteArray &chunk);

    // For a recorder: while set, every chunk received and every data frame the
    // cutter takes reach `tap` on this (the GUI) thread, in order, after the
    // pass that kept them and with no lock held. Unsetting hands over what is
    // left first.
    using ReceiveTapHandler = std::function<void(ReceiveTapBatch &batch)>;
    void setReceiveTap(ReceiveTapHandler tap);
    // Hands over at once what the tap kept so far.
    void flushReceiveTap();
    // What the cutter has taken and dropped in this connection, copied under the
    // processing lock; callable from the GUI thread at any time.
    LinkCounters linkCounters() const;
    // Until the next start(), write requests are dropped here (reads still go
    // out): a module that reappears on its port is read, and known, before
    // anything is written to it. Also holds back delayed writes of the
    // connection that was lost.
    void holdWrites();
    bool writesHeld() const { return m_writesHeld.load(); }

public slots:
    // Opens the port of that name, as listed when the user picked it. A name the
    // enumeration no longer lists (the device was unplugged) is not opened:
    // linkError names it, and requests made meanwhile are dropped.
    void start(const QString &portName);
    void stop();
    void process();

signals:
    // Queued to the GUI thread: the port could not be opened, or failed while
    // open (pulled cable). Also for a start on a port that is no longer listed.
    void linkError(const QString &portName, const QString &errorText);
    void linkOpened(const QString &portName);
    void linkClosed(const QString &portName);

private:
    void reportError(quint64 attempt, const QString &portName, const QString &errorText);

    ProcessThread *m_processThread;
    ComsProtocol *m_protocol;
    ComsSlave *m_slave;
    BlockHandler m_blockHandler;
    ReceiveTapHandler m_receiveTap;
    // Numbers the starts: an error of an earlier attempt that arrives after a
    // newer start is only logged, so it cannot undo the newer connection.
    quint64 m_attempt = 0;
    std::atomic<bool> m_writesHeld {false};
    // The image as the last dispatch pass left it: where the frames of the
    // next pass are replayed from.
    std::array<quint8, RegisterMap::Size> m_dispatchedImage {};
};
