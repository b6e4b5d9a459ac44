// SPDX-License-Identifier: GPL-3.0-or-later
#include "comsslave.h"

#include "comsprotocol.h"
#include "linklog.h"
#include "processthread.h"

#include "linksync.h"
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTime>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace {

// True when the port's device has gone away underneath the open descriptor.
bool deviceHungUp(QSerialPort &port)
{
#ifdef Q_OS_UNIX
    pollfd probe {int(port.handle()), POLLIN, 0};
    return ::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(port);
    return false;
#endif
}

// Before it opens a port, Qt's serial port takes a lock file named "LCK.." and
// the device path (without "/dev/", slashes made underscores). For a long path
// that name passes the file system's limit and the open fails with a
// "permission" error that says nothing of the cause.
constexpr int LockFileNameLimit = 255;

int lockFileNameLength(const QString &path)
{
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    return int(QFile::encodeName(name).size()) + 5;
}

// The path to open: the one picked, or, when its lock file name would be too
// long, the device it leads to (a symbolic link in a deep folder, say).
QString pathToOpen(const QString &portName)
{
#ifdef Q_OS_UNIX
    if (lockFileNameLength(portName) > LockFileNameLimit) {
        const QString target = QFileInfo(portName).canonicalFilePath();
        if (!target.isEmpty() && lockFileNameLength(target) <= LockFileNameLimit)
            return target;
    }
#endif
    return portName;
}

QString openErrorText(const QSerialPort &port, const QString &openedPath)
{
#ifdef Q_OS_UNIX
    const int length = lockFileNameLength(openedPath);
    if (port.error() == QSerialPort::PermissionError && length > LockFileNameLimit)
        return QCoreApplication::translate("ComsSlave",
            "The port's path is too long: its lock file name "
            "would be %1 characters, more than the %2 the "
            "system allows. Use a shorter path or a symbolic "
            "link to the device.")
            .arg(length)
            .arg(LockFileNameLimit);
#else
    Q_UNUSED(openedPath);
#endif
    return port.errorString();
}

constexpr qint32 BaudRate = 115200;
constexpr int ReadWaitMs = 1000;
constexpr int FlushWaitMs = 500;
} // namespace

ComsSlave::ComsSlave(QObject *parent, ComsHandler *handler, ProcessThread *processThread)
    : QThread(parent)
    , m_handler(handler)
    , m_processThread(processThread)
{ }

ComsSlave::~ComsSlave()
{
    stopSlave();
    waitForThread(this);
    // A pass may still be draining our queue.
    m_processThread->waitUntilIdle();
    m_receiveQueue.clear();
}

bool ComsSlave::startSlave(const QString &portName, ComsProtocol *protocol, quint64 attempt)
{
    {
        LinkLocker locker(&m_portLock);
        m_portName = portName;
        qDebug() << "Starting Slave on :" << portName;
        // A live connection keeps its port; the new name counts from the next start.
        if (isRunning() && !m_stop)
            return false;
    }
    // A previous run may still be closing its port: let it end, then start anew,
    // so a quick Disconnect/Connect connects.
    waitForThread(this);
    {
        // Nothing of an earlier connection may reach this one: not its queued
        // chunks, nor the bytes, pass count and flags the cutter still holds.
        LinkLocker processLocker(&m_processThread->processLock());
        m_receiveQueue.clear();
        protocol->beginConnection();
    }
    LinkLocker locker(&m_portLock);
    m_writeQueue.clear();
    m_attempt = attempt;
    m_protocol = protocol;
    m_stop = false;
    start(QThread::TimeCriticalPriority);
    return true;
}

void ComsSlave::setOpenGate(std::function<void()> gate)
{
    LinkLocker locker(&m_portLock);
    m_openGate = std::move(gate);
}

void ComsSlave::stopSlave()
{
    {
        LinkLocker locker(&m_portLock);
        m_stop = true;
    }
    // Ends the worker's event loop at once (or makes it return immediately if
    // it has not entered it yet).
    quit();
}

void ComsSlave::serialWrite(const quint8 *data, quint8 length)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), length);
    LinkLocker locker(&m_portLock);
    // With no port open and none being opened (before the first start, after a
    // failed open or a stop) the bytes have nowhere to go.
    if (m_stop) {
        locker.unlock();
        qCDebug(lcLink) << "no port open: dropped" << length << "bytes";
        return;
    }
    // While the port is being opened the frame waits in the queue: the worker
    // sends it, in order, once the port is open, or drops it if the open fails.
    // The caller (the GUI thread) never waits for the open.
    const bool wakeWorker = m_portContext && m_writeQueue.empty();
    m_writeQueue.push_back(bytes);
    // Posting an event calls no code of ours, so it is safe under the lock; the
    // context is destroyed only after the worker cleared it under this lock.
    if (wakeWorker)
        QMetaObject::invokeMethod(
            m_portContext, [this] { writePending(); }, Qt::QueuedConnection);
}

void ComsSlave::writePending()
{
    std::deque<QByteArray> frames;
    {
        LinkLocker locker(&m_portLock);
        frames.swap(m_writeQueue);
    }
    for (const QByteArray &frame : frames) {
        qDebug() << " serialWrite Output: " << frame.toHex(',').toUpper();
        if (m_port->write(frame) != frame.size())
            qCWarning(lcLink) << "write to" << m_port->portName()
                              << "failed:" << m_port->errorString();
    }
}

void ComsSlave::queueReceived(const QByteArray &chunk, ComsProtocol *protocol)
{
    if (m_receiveQueue.push(chunk))
        m_processThread->startProcessing(protocol, &m_receiveQueue);
}

void ComsSlave::run()
{
    const RunEndMark runEnd(this);
    QString portName;
    std::function<void()> openGate;
    quint64 attempt = 0;
    {
        LinkLocker locker(&m_portLock);
        portName = m_portName;
        openGate = m_openGate;
        attempt = m_attempt;
        // Nothing to open: later writes must not wait in the queue for it.
        if (portName.isEmpty()) {
            m_stop = true;
            m_writeQueue.clear();
            return;
        }
    }
    if (openGate)
        openGate();

    QSerialPort port;
    const QString openPath = pathToOpen(portName);
    if (openPath != portName)
        qCDebug(lcLink) << "opening" << portName << "as" << openPath;
    port.setPortName(openPath);
    port.setBaudRate(BaudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        port.close();
        if (!port.open(QIODevice::ReadWrite)) {
            const QString errorText = openErrorText(port, openPath);
            port.close();
            std::size_t dropped = 0;
            {
                LinkLocker locker(&m_portLock);
                m_stop = true;
                dropped = m_writeQueue.size();
                m_writeQueue.clear();
            }
            qCWarning(lcLink) << "cannot open" << portName << "after a retry:" << errorText;
            if (dropped > 0)
                qCDebug(lcLink) << "dropped" << dropped << "requests made while it was opening";
            emit portFailed(attempt, portName, errorText);
            return;
        }
    }

    QObject portContext; // lives on this thread: write wake-ups are queued to it
    m_port = &port;
    bool queuedWhileOpening = false;
    {
        LinkLocker locker(&m_portLock);
        m_connected = true;
        m_portContext = &portContext;
        queuedWhileOpening = !m_writeQueue.empty();
        qDebug() << Q_FUNC_INFO << "SERIAL OK:" << m_connected.load();
    }
    emit portOpened(portName);
    // Requests made while the port was being opened go out first, in order.
    if (queuedWhileOpening)
        writePending();

    // Silence on the line is only logged; the worker never closes the port for it.
    QTimer readTimeout;
    readTimeout.setInterval(ReadWaitMs);
    connect(&readTimeout, &QTimer::timeout, &portContext, [] {
        qDebug() << tr("Wait read request timeout %1").arg(QTime::currentTime().toString());
    });
    connect(&port, &QSerialPort::readyRead, &portContext, [&] {
        readTimeout.start();
        const QByteArray chunk = port.readAll();
        if (!chunk.isEmpty())
            queueReceived(chunk, m_protocol);
    });
    QString failure;
    bool readErrorLogged = false;
    connect(
        &port, &QSerialPort::errorOccurred, &portContext, [&](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::NoError || !failure.isEmpty())
                return;
            if (error == QSerialPort::ResourceError) {
                failure = port.errorString();
            } else if (error == QSerialPort::ReadError && deviceHungUp(port)) {
                // A hung-up tty (pty master closed, some USB adapters) reads
                // as end of file, which Qt reports as a plain read error.
                failure = tr("The serial device hung up");
            } else {
                if (error != QSerialPort::ReadError || !readErrorLogged)
                    qCWarning(lcLink) << "error on" << portName << ":" << port.errorString();
                readErrorLogged = readErrorLogged || error == QSerialPort::ReadError;
                return;
            }
            // The device went away: end this run.
            qCWarning(lcLink) << "lost" << portName << ":" << failure;
            {
                LinkLocker locker(&m_portLock);
                m_stop = true;
            }
            quit();
        });
    readTimeout.start();

    if (!m_stop)
        exec();

    readTimeout.stop();
    {
        LinkLocker locker(&m_portLock);
        m_portContext = nullptr;
    }
    // Frames handed over before the stop still go out.
    writePending();
    if (failure.isEmpty()) {
        port.flush();
        if (port.bytesToWrite() > 0)
            port.waitForBytesWritten(FlushWaitMs);
    }
    port.close();
    m_port = nullptr;
    {
        LinkLocker locker(&m_portLock);
        m_connected = false;
        m_stop = true;
        qDebug() << Q_FUNC_INFO << "SERIAL OK:" << m_connected.load();
    }
    qDebug() << "Serial Closed";
    if (!failure.isEmpty())
        emit portFailed(attempt, portName, failure);
    emit portClosed(portName);
}
