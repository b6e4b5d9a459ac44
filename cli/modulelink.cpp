// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulelink.h"

#include "comsprotocol.h"
#include "serialports.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <sys/stat.h>

ModuleLink::ModuleLink(int answerTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_answerTimeoutMs(answerTimeoutMs)
{
    m_clock.start();
    // Set before any thread of the link runs; called on the processing thread.
    m_coms.protocol()->setFrameObserver(&ModuleLink::observeFrame, this);
    // The tool never switches a streaming module off for a read: it falls into
    // step with the stream instead.
    m_coms.protocol()->setJoinsStream(true);
    connect(&m_coms, &ComsHandler::linkOpened, this, [this] {
        m_open = true;
        wake();
    });
    connect(
        &m_coms, &ComsHandler::linkError, this, [this](const QString &, const QString &errorText) {
            m_linkFailed = true;
            m_open = false;
            m_error = errorText;
            wake();
        });
}

ModuleLink::~ModuleLink()
{
    close();
}

void ModuleLink::observeFrame(void *context, quint8 address, quint8 count, const quint8 *data)
{
    auto *link = static_cast<ModuleLink *>(context);
    const QByteArray bytes(reinterpret_cast<const char *>(data), count);
    const qint64 timeUs = link->m_clock.nsecsElapsed() / 1000;
    // The cutter runs on the processing thread; the answer is looked at on ours.
    QMetaObject::invokeMethod(
        link,
        [link, address, count, bytes, timeUs] {
            if (link->m_tap) {
                QByteArray frame;
                frame.reserve(3 + bytes.size());
                frame.append(char(0xBB));
                frame.append(char(address));
                frame.append(char(count));
                frame.append(bytes);
                link->m_tap(timeUs, frame);
            }
            if (link->m_awaiting && link->m_awaited.address == address
                && link->m_awaited.count == count) {
                link->m_answer = bytes;
                link->m_awaiting = false;
                link->wake();
            }
        },
        Qt::QueuedConnection);
}

QString ModuleLink::resolvePort(const QString &port, QString *why)
{
    const auto refuse = [&](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    if (port.isEmpty())
        return refuse(QStringLiteral("no port given"));
    const QList<SerialPortEntry> listed = enumerateSerialPorts();
    for (const SerialPortEntry &entry : listed) {
        if (entry.portName == port)
            return entry.portName;
    }
    const QFileInfo info(port);
    if (!info.exists())
        return refuse(QStringLiteral("no such serial port"));
    if (info.isDir())
        return refuse(QStringLiteral("is a directory, not a serial port"));
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(port).constData(), &st) != 0)
        return refuse(QStringLiteral("cannot be examined"));
    if (!S_ISCHR(st.st_mode))
        return refuse(S_ISREG(st.st_mode) ? QStringLiteral("is a regular file, not a serial port")
                                          : QStringLiteral("is not a serial device"));
    const QString canonical = info.canonicalFilePath();
    for (const SerialPortEntry &entry : listed) {
        if (entry.systemLocation == port
            || (!entry.systemLocation.isEmpty()
                && QFileInfo(entry.systemLocation).canonicalFilePath() == canonical))
            return entry.portName;
    }
    // A device the system does not enumerate (a pseudo-terminal, a bridge):
    // listed for this process the way the application lists such devices.
    QByteArray extra = qgetenv("VELMAR_EXTRA_PORTS");
    extra = QFile::encodeName(port) + (extra.isEmpty() ? QByteArray() : ":" + extra);
    qputenv("VELMAR_EXTRA_PORTS", extra);
    return port;
}

void ModuleLink::fail(Failure failure, const QString &why)
{
    if (m_failure == Failure::None) {
        m_failure = failure;
        m_error = why;
    }
}

bool ModuleLink::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        // Every answer and link notification quits the loop; the timer only
        // bounds the wait.
        QEventLoop loop;
        m_loop = &loop;
        QTimer::singleShot(
            int(qBound<qint64>(1, deadline.remainingTime(), 100)), &loop, &QEventLoop::quit);
        loop.exec();
        m_loop = nullptr;
    }
    return true;
}

void ModuleLink::pause(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void ModuleLink::wake()
{
    if (m_loop)
        m_loop->quit();
}

bool ModuleLink::open(const QString &port, int openTimeoutMs)
{
    QString why;
    const QString name = resolvePort(port, &why);
    if (name.isEmpty()) {
        fail(Failure::Port, why);
        return false;
    }
    m_portName = name;
    m_linkFailed = false;
    m_failure = Failure::None;
    m_error.clear();
    m_coms.start(name);
    if (!waitFor([this] { return m_open || m_linkFailed; }, openTimeoutMs)) {
        fail(
            Failure::Port, QStringLiteral("the port did not open within %1 ms").arg(openTimeoutMs));
        return false;
    }
    if (m_linkFailed) {
        m_failure = Failure::Port;
        return false;
    }
    return true;
}

void ModuleLink::close()
{
    if (!m_portName.isEmpty())
        m_coms.stop();
    m_open = false;
}

QByteArray ModuleLink::read(RegisterSpan span)
{
    if (m_failure != Failure::None)
        return {};
    m_answer.clear();
    m_awaited = span;
    m_awaiting = true;
    const QByteArray request = readRequest(span);
    m_coms.sendFrame(reinterpret_cast<const quint8 *>(request.constData()), quint8(request.size()));
    const bool answered
        = waitFor([this] { return !m_awaiting || m_linkFailed; }, m_answerTimeoutMs);
    if (m_linkFailed) {
        fail(Failure::Port, m_error);
        return {};
    }
    if (!answered) {
        m_awaiting = false;
        fail(Failure::Silent,
            QStringLiteral("the module did not answer a read of %1 bytes at 0x%2 within %3 ms")
                .arg(span.count)
                .arg(
                    QString::number(span.address, 16).toUpper().rightJustified(2, QLatin1Char('0')))
                .arg(m_answerTimeoutMs));
        return {};
    }
    return m_answer;
}

bool ModuleLink::readImage(RegisterImage *image)
{
    const QByteArray bytes = read(RegisterMap::Whole);
    if (bytes.size() != int(image->size()))
        return false;
    std::copy(bytes.cbegin(), bytes.cend(), image->begin());
    return true;
}

bool ModuleLink::readConfirmedImage(RegisterImage *image)
{
    ModuleFileIdentity mapped;
    ModuleFileIdentity checked;
    for (int attempt = 0; attempt < ConfirmAttempts; ++attempt) {
        if (!readImage(image) || !readIdentity(&checked))
            return false;
        const RegisterImage &map = *image;
        mapped.deviceId = map[RegisterMap::DeviceId.address];
        mapped.hardwareVersion = readU16(&map[RegisterMap::HardwareVersion.address]);
        mapped.softwareVersion = readU16(&map[RegisterMap::SoftwareVersion.address]);
        if (mapped.deviceId == checked.deviceId && mapped.hardwareVersion == checked.hardwareVersion
            && mapped.softwareVersion == checked.softwareVersion)
            return true;
    }
    fail(Failure::Unconfirmed,
        QStringLiteral("the module's answers disagree on which module it is (%1, then %2); "
                       "is another program talking to it?")
            .arg(mapped.text(), checked.text()));
    return false;
}

bool ModuleLink::readIdentity(ModuleFileIdentity *identity)
{
    const RegisterSpan span {RegisterMap::DeviceId.address,
        quint8(RegisterMap::SoftwareVersion.end() - RegisterMap::DeviceId.address)};
    const QByteArray bytes = read(span);
    if (bytes.size() != span.count)
        return false;
    const auto *b = reinterpret_cast<const quint8 *>(bytes.constData());
    identity->deviceId = b[RegisterMap::DeviceId.address];
    identity->hardwareVersion = readU16(b + RegisterMap::HardwareVersion.address);
    identity->softwareVersion = readU16(b + RegisterMap::SoftwareVersion.address);
    return true;
}

void ModuleLink::write(quint8 address, const QByteArray &data)
{
    const QByteArray request = writeRequest(
        address, reinterpret_cast<const quint8 *>(data.constData()), quint8(data.size()));
    m_coms.sendFrame(reinterpret_cast<const quint8 *>(request.constData()), quint8(request.size()));
}

bool ModuleLink::writeAndReadBack(quint8 address, const QByteArray &data, QByteArray *heldBack)
{
    write(address, data);
    // The module takes requests in order: the answer to this read comes after the write.
    const QByteArray held = read({address, quint8(data.size())});
    if (held.size() != data.size())
        return false;
    *heldBack = held;
    return true;
}
