#include "comsslave.h"

#include "linklog.h"
#include "processthread.h"

#include <QDebug>
#include <QElapsedTimer>
#include "linksync.h"
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
    pollfd probe{int(port.handle()), POLLIN, 0};
    return ::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(port);
    return false;
#endif
}

constexpr qint32 BaudRate = 115200;
constexpr int ReadWaitMs = 1000;
constexpr qint64 WriteWaitMs = 2000;
constexpr int FlushWaitMs = 500;
} // namespace

ComsSlave::ComsSlave(QObject *parent, ComsHandler *handler, ProcessThread *processThread)
    : QThread(parent)
    , m_handler(handler)
    , m_processThread(processThread)
{
}

ComsSlave::~ComsSlave()
{
    stopSlave();
    waitForThread(this);
    // A pass may still be draining our queue.
    waitForThread(m_processThread);
    m_receiveQueue.clear();
}

void ComsSlave::startSlave(const QString &portName, ComsProtocol *protocol)
{
    LinkLocker locker(&m_portLock);
    m_portName = portName;
    qDebug() << "Starting Slave on :" << portName;
    if (isRunning()) {
        // A live connection keeps its port; the new name counts from the next start.
        if (!m_stop)
            return;
        // The previous run is closing its port: let it end, then start anew, so
        // a quick Disconnect/Connect connects.
        locker.unlock();
        waitForThread(this);
        locker.relock();
    }
    m_protocol = protocol;
    m_stop = false;
    start(QThread::TimeCriticalPriority);
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
    QElapsedTimer stopwatch;
    stopwatch.start();
    while (!m_connected) {
        // With no port open and none being opened (before the first start, after
        // a failed open or a stop) waiting cannot help; it would only freeze the
        // caller. The flag is cleared only by startSlave, on this same thread.
        if (m_stop) {
            qCDebug(lcLink) << "no port open: dropped" << length << "bytes";
            return;
        }
        QThread::sleep(1);
        const qint64 elapsed = stopwatch.elapsed();
        const bool connected = m_connected;
        qDebug() << Q_FUNC_INFO << elapsed << connected;
        if (!connected && elapsed > WriteWaitMs)
            return;
    }

    LinkLocker locker(&m_portLock);
    const QByteArray bytes(reinterpret_cast<const char *>(data), length);
    if (!m_portContext)
        return; // the port closed while we waited
    const bool wakeWorker = m_writeQueue.empty();
    m_writeQueue.push_back(bytes);
    // Posting an event calls no code of ours, so it is safe under the lock; the
    // context is destroyed only after the worker cleared it under this lock.
    if (wakeWorker)
        QMetaObject::invokeMethod(m_portContext, [this] { writePending(); }, Qt::QueuedConnection);
    locker.unlock();
    qDebug() << " serialWrite Output: " << bytes.toHex(',').toUpper();
}

void ComsSlave::writePending()
{
    std::deque<QByteArray> frames;
    {
        LinkLocker locker(&m_portLock);
        frames.swap(m_writeQueue);
    }
    for (const QByteArray &frame : frames) {
        if (m_port->write(frame) != frame.size())
            qCWarning(lcLink) << "write to" << m_port->portName() << "failed:" << m_port->errorString();
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
    {
        LinkLocker locker(&m_portLock);
        portName = m_portName;
    }
    if (portName.isEmpty())
        return;

    QSerialPort port;
    port.setPortName(portName);
    port.setBaudRate(BaudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        port.close();
        if (!port.open(QIODevice::ReadWrite)) {
            const QString errorText = port.errorString();
            port.close();
            {
                LinkLocker locker(&m_portLock);
                m_stop = true;
            }
            qCWarning(lcLink) << "cannot open" << portName << "after a retry:" << errorText;
            emit portFailed(portName, errorText);
            return;
        }
    }

    QObject portContext; // lives on this thread: write wake-ups are queued to it
    m_port = &port;
    {
        LinkLocker locker(&m_portLock);
        m_connected = true;
        m_portContext = &portContext;
        qDebug() << Q_FUNC_INFO << "SERIAL OK:" << m_connected.load();
    }
    emit portOpened(portName);

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
    connect(&port, &QSerialPort::errorOccurred, &portContext,
            [&](QSerialPort::SerialPortError error) {
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
        emit portFailed(portName, failure);
    emit portClosed(portName);
}
