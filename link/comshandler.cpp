// SPDX-License-Identifier: GPL-3.0-or-later
#include "comshandler.h"

#include "comsprotocol.h"
#include "comsslave.h"
#include "linklog.h"
#include "processthread.h"
#include "registerblocks.h"
#include "serialports.h"

#include "linksync.h"

#include <algorithm>

Q_LOGGING_CATEGORY(lcLink, "velmar.link")

ComsHandler::ComsHandler(QObject *parent)
    : QObject(parent)
    , m_processThread(new ProcessThread)
    , m_protocol(new ComsProtocol)
    , m_slave(new ComsSlave(this, this, m_processThread))
{
    // processFinished is emitted on the processing thread, so this is queued.
    connect(m_processThread, &ProcessThread::processFinished, this, &ComsHandler::process);
    // The worker emits on its own thread; the user hears of it on ours.
    connect(m_slave, &ComsSlave::portOpened, this, &ComsHandler::linkOpened, Qt::QueuedConnection);
    connect(
        m_slave, &ComsSlave::portFailed, this,
        [this](quint64 attempt, const QString &portName, const QString &errorText) {
            reportError(attempt, portName, errorText);
        },
        Qt::QueuedConnection);
    connect(m_slave, &ComsSlave::portClosed, this, &ComsHandler::linkClosed, Qt::QueuedConnection);
}

ComsHandler::~ComsHandler()
{
    // Worker first (it also waits for the processing pass it may have started),
    // then the processing thread, then the state they both use.
    delete m_slave;
    delete m_processThread;
    delete m_protocol;
}

void ComsHandler::reportError(quint64 attempt, const QString &portName, const QString &errorText)
{
    if (attempt != m_attempt) {
        qCInfo(lcLink) << "late error of an earlier connection to" << portName
                       << "ignored:" << errorText;
        return;
    }
    emit linkError(portName, errorText);
}

void ComsHandler::setBlockHandler(BlockHandler handler)
{
    m_blockHandler = std::move(handler);
}

ComsProtocol *ComsHandler::protocol()
{
    return m_protocol;
}

void ComsHandler::sendFrame(const quint8 *data, quint8 length)
{
    if (m_writesHeld.load() && length >= 2 && data[0] == 0xAA && data[1] == 0x00) {
        qCInfo(lcLink) << "write of" << length << "bytes held back: the module is not known yet";
        return;
    }
    {
        // Before the bytes can leave: an answer may come back at once.
        LinkLocker locker(&m_processThread->processLock());
        m_protocol->noteRequestSent(data, length);
    }
    m_slave->serialWrite(data, length);
}

void ComsHandler::setPortOpenGate(std::function<void()> gate)
{
    m_slave->setOpenGate(std::move(gate));
}

bool ComsHandler::isPortOpen() const
{
    return m_slave->isConnected();
}

std::array<quint8, RegisterMap::Size> ComsHandler::registerImageSnapshot() const
{
    std::array<quint8, ComsProtocol::ImageSize> image;
    LinkLocker locker(&m_processThread->processLock());
    std::copy_n(m_protocol->registerImage(), image.size(), image.begin());
    return image;
}

void ComsHandler::feedReceived(const QByteArray &chunk)
{
    if (!chunk.isEmpty())
        m_slave->queueReceived(chunk, m_protocol);
}

void ComsHandler::setReceiveTap(ReceiveTapHandler tap)
{
    if (tap) {
        m_receiveTap = std::move(tap);
        LinkLocker locker(&m_processThread->processLock());
        m_protocol->setTapping(true, steadyNowNs());
        return;
    }
    flushReceiveTap();
    {
        LinkLocker locker(&m_processThread->processLock());
        m_protocol->setTapping(false);
    }
    m_receiveTap = nullptr;
}

void ComsHandler::flushReceiveTap()
{
    if (!m_receiveTap || !m_protocol->hasTapped())
        return;
    ReceiveTapBatch batch;
    {
        LinkLocker locker(&m_processThread->processLock());
        batch = m_protocol->takeTapped();
    }
    if (!batch.isEmpty())
        m_receiveTap(batch);
}

void ComsHandler::start(const QString &portName)
{
    m_writesHeld = false;
    const quint64 attempt = m_attempt + 1;
    const QList<SerialPortEntry> ports = enumerateSerialPorts();
    const bool listed = std::any_of(ports.cbegin(), ports.cend(),
        [&](const SerialPortEntry &port) { return port.portName == portName; });
    if (!listed) {
        const QString text = portName.isEmpty()
            ? tr("No serial port selected")
            : tr("The serial port %1 is no longer present").arg(portName);
        qCWarning(lcLink) << "start:" << text;
        m_attempt = attempt;
        // Queued like every other link notification, so callers never see it
        // from inside their own call to start().
        QMetaObject::invokeMethod(
            this, [this, attempt, portName, text] { reportError(attempt, portName, text); },
            Qt::QueuedConnection);
        return;
    }
    if (m_slave->startSlave(portName, m_protocol, attempt))
        m_attempt = attempt;
}

LinkCounters ComsHandler::linkCounters() const
{
    LinkLocker locker(&m_processThread->processLock());
    return m_protocol->counters();
}

void ComsHandler::holdWrites()
{
    m_writesHeld = true;
}

void ComsHandler::stop()
{
    m_slave->stopSlave();
}

void ComsHandler::process()
{
    // Copy and clear under the lock, call out without it: a handler may block
    // in sendFrame and must not hold up the processing thread.
    std::array<quint8, ComsProtocol::ImageSize> image;
    std::array<quint8, ComsProtocol::ImageSize> flags;
    // Most passes of a slow trickle complete no frame: nothing to hand over
    // (but to a recorder, which keeps every chunk).
    if (!m_protocol->hasUpdatedFlags()) {
        flushReceiveTap();
        return;
    }
    ReceiveTapBatch tapped;
    StoredFrames frames;
    {
        LinkLocker locker(&m_processThread->processLock());
        std::copy_n(m_protocol->registerImage(), image.size(), image.begin());
        std::copy_n(m_protocol->updatedFlags(), flags.size(), flags.begin());
        frames = m_protocol->takeStoredFrames();
        m_protocol->clearUpdatedFlags();
        // Recording: the same pass's chunks and frames, taken under the same lock.
        if (m_receiveTap && m_protocol->hasTapped())
            tapped = m_protocol->takeTapped();
    }
    if (!tapped.isEmpty())
        m_receiveTap(tapped);
    // Every measurement cut since the last pass reaches the handler in turn,
    // each on the image as it stood right after its frame: the image alone
    // would hand over only the latest sample. The other registers are settings
    // and answers, handed over once with their latest value, in address order
    // around the measurements.
    if (frames.stored() > 1) {
        constexpr RegisterSpan samples = RegisterMap::Measurements;
        std::array<quint8, ComsProtocol::ImageSize> part {};
        std::copy_n(flags.begin(), samples.address, part.begin());
        dispatchUpdatedBlocks(image.data(), part.data(), m_blockHandler);
        frames.dispatch(m_dispatchedImage.data(), int(m_dispatchedImage.size()), samples.address,
            samples.end(), m_blockHandler);
        if (frames.overflowed()) {
            // Past the bound the latest sample still shows; the frames between
            // are counted as not handed over.
            part.fill(0);
            std::copy(flags.begin() + samples.address, flags.begin() + samples.end(),
                part.begin() + samples.address);
            dispatchUpdatedBlocks(image.data(), part.data(), m_blockHandler);
        }
        part.fill(0);
        std::copy(flags.begin() + samples.end(), flags.end(), part.begin() + samples.end());
        dispatchUpdatedBlocks(image.data(), part.data(), m_blockHandler);
    } else {
        dispatchUpdatedBlocks(image.data(), flags.data(), m_blockHandler);
    }
    m_dispatchedImage = image;
}
