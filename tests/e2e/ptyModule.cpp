#include "ptyModule.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int control1 = 0x34;
constexpr int streamPeriodMs = 20;
} // namespace

PtyModule::PtyModule()
{
    // Identity: device 0x42, hardware 1442 (so "Sensors Range" 0 gives
    // 20 / 250 / 2 full scale), software 0x0102.
    m_image[0x00] = 0x42;
    m_image[0x02] = 1442 & 0xFF;
    m_image[0x03] = 1442 >> 8;
    m_image[0x04] = 0x02;
    m_image[0x05] = 0x01;
    m_image[0x36] = 0x00;
    m_image[0xAF] = 0x07;
    streamMeasurements(0.0);
}

PtyModule::~PtyModule()
{
    stop();
}

bool PtyModule::start(QString *error)
{
    char name[128] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Raw bytes both ways: no echo, no line editing, no newline translation.
    termios tio;
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void PtyModule::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

quint8 PtyModule::registerValue(int address) const
{
    std::lock_guard<std::mutex> guard(m_imageLock);
    return m_image[address];
}

void PtyModule::setSigned16(int address, int value)
{
    const auto raw = static_cast<quint16>(static_cast<qint16>(value));
    m_image[address] = raw & 0xFF;
    m_image[address + 1] = raw >> 8;
}

void PtyModule::streamMeasurements(double t)
{
    // A module rocking slowly about its x axis while lying Z-Up.
    const double roll = 20.0 * std::sin(t * 1.3);
    const double pitch = 10.0 * std::sin(t * 0.7);
    const double yaw = 45.0 + 5.0 * std::cos(t * 0.5);
    setSigned16(0x06, int(400 * std::sin(t * 1.3)));
    setSigned16(0x08, int(300 * std::cos(t * 0.9)));
    setSigned16(0x0A, 16056); // 9.8 at a full scale of 20
    setSigned16(0x0C, int(3000 * std::cos(t * 1.3)));
    setSigned16(0x0E, int(1500 * std::sin(t * 0.7)));
    setSigned16(0x10, int(-800 * std::sin(t * 0.5)));
    setSigned16(0x12, int(6000 * std::cos(t * 0.4)));
    setSigned16(0x14, int(6000 * std::sin(t * 0.4)));
    setSigned16(0x16, -4000);
    setSigned16(0x18, 1200);
    const double half = roll * M_PI / 360.0;
    setSigned16(0x1A, int(1000 * std::cos(half)));
    setSigned16(0x1C, int(1000 * std::sin(half)));
    setSigned16(0x1E, 0);
    setSigned16(0x20, 0);
    setSigned16(0x22, int(roll * 100));
    setSigned16(0x24, int(pitch * 100));
    setSigned16(0x26, int(yaw * 100));
}

void PtyModule::writeAll(const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size() && !m_stop) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd pfd{m_master, POLLOUT, 0};
            ::poll(&pfd, 1, 20);
        }
    }
}

void PtyModule::handleBytes(const QByteArray &bytes)
{
    m_pending += bytes;
    for (;;) {
        while (!m_pending.isEmpty() && quint8(m_pending.at(0)) != 0xAA)
            m_pending.remove(0, 1);
        if (m_pending.size() < 4)
            return;
        const quint8 kind = quint8(m_pending.at(1));
        const int address = quint8(m_pending.at(2));
        const int count = quint8(m_pending.at(3));
        if (kind == 0x01) {
            m_pending.remove(0, 4);
            QByteArray answer;
            answer.append(char(0xBB)).append(char(address)).append(char(count));
            {
                std::lock_guard<std::mutex> guard(m_imageLock);
                for (int i = 0; i < count && address + i < registerCount; ++i)
                    answer.append(char(m_image[address + i]));
            }
            answer[2] = char(answer.size() - 3);
            writeAll(answer);
        } else if (kind == 0x00) {
            if (m_pending.size() < 4 + count)
                return;
            std::lock_guard<std::mutex> guard(m_imageLock);
            for (int i = 0; i < count && address + i < registerCount; ++i)
                m_image[address + i] = quint8(m_pending.at(4 + i));
            m_pending.remove(0, 4 + count);
        } else {
            m_pending.remove(0, 1);
        }
    }
}

void PtyModule::run()
{
    QElapsedTimer clock;
    clock.start();
    qint64 nextFrame = 0;
    char buffer[512];
    while (!m_stop) {
        pollfd pfd{m_master, POLLIN, 0};
        ::poll(&pfd, 1, 5);
        if (pfd.revents & POLLIN) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                handleBytes(QByteArray(buffer, int(n)));
        }
        if (clock.elapsed() < nextFrame)
            continue;
        nextFrame = clock.elapsed() + streamPeriodMs;
        QByteArray frame;
        {
            std::lock_guard<std::mutex> guard(m_imageLock);
            if (m_image[control1] == 0)
                continue;
            streamMeasurements(clock.elapsed() / 1000.0);
            frame.append(char(0xBB)).append(char(0x06)).append(char(34));
            frame.append(reinterpret_cast<const char *>(m_image.data() + 0x06), 34);
        }
        writeAll(frame);
        ++m_framesStreamed;
    }
}
