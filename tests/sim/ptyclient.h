// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>

// The host end of a pseudo-terminal, as a serial port client sees it.
class PtyClient
{
public:
    ~PtyClient() { close(); }

    bool open(const QString &path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        termios tio {};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
        return true;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool send(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Reads until `done(received)` holds or `timeoutMs` pass; returns whether it held.
    bool readUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done(m_received)) {
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                return false;
            pollfd p {m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR)) {
                m_hungUp = true;
                return done(m_received);
            }
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                m_received.append(buffer, int(n));
                m_lastArrival = timer.elapsed();
            }
        }
        return true;
    }
    bool readAtLeast(int count, int timeoutMs)
    {
        return readUntil([count](const QByteArray &r) { return r.size() >= count; }, timeoutMs);
    }
    // Reads for the whole interval; returns false only on hang-up.
    bool readFor(int ms)
    {
        readUntil([](const QByteArray &) { return false; }, ms);
        return !m_hungUp;
    }

    QByteArray &received() { return m_received; }
    bool hungUp() const { return m_hungUp; }

private:
    int m_fd = -1;
    QByteArray m_received;
    bool m_hungUp = false;
    qint64 m_lastArrival = 0;
};

inline QByteArray readRequest(int address, int count)
{
    return QByteArray::fromRawData("\xAA\x01", 2) + char(address) + char(count);
}

inline QByteArray writeRequest(int address, const QByteArray &data)
{
    return QByteArray::fromRawData("\xAA\x00", 2) + char(address) + char(data.size()) + data;
}
