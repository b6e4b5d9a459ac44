// SPDX-License-Identifier: GPL-3.0-or-later
#include "backendtestsupport.h"

#include "serialports.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace backendtest;

namespace {

using Clock = std::chrono::steady_clock;

// A module on the far side of a pseudo-terminal: it keeps a register map, applies
// write requests, answers read requests from it, and records every request with the
// time it arrived. Answers go out in odd-sized chunks with line noise before each.
class ModuleResponder
{
public:
    struct Request
    {
        QString hex;
        qint64 atMs;
    };

    explicit ModuleResponder(int masterFd)
        : m_fd(masterFd)
        , m_start(Clock::now())
    {
        m_thread = std::thread([this] { run(); });
    }
    ~ModuleResponder()
    {
        m_stop = true;
        m_thread.join();
    }

    void setRegister(int address, const QByteArray &bytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < bytes.size(); ++i)
            m_image[address + i] = quint8(bytes[i]);
    }
    QList<Request> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    QStringList requestHex(int from = 0) const
    {
        QStringList hex;
        const QList<Request> all = requests();
        for (int i = from; i < all.size(); ++i)
            hex << all[i].hex;
        return hex;
    }

private:
    void run()
    {
        QByteArray pending;
        while (!m_stop) {
            pollfd pfd {m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN))
                continue;
            char buffer[512];
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            pending.append(buffer, int(n));
            handleRequests(pending);
        }
    }

    void handleRequests(QByteArray &pending)
    {
        while (pending.size() >= 4) {
            if (quint8(pending[0]) != 0xAA) {
                pending.remove(0, 1);
                continue;
            }
            const bool isRead = quint8(pending[1]) == 0x01;
            const int address = quint8(pending[2]);
            const int count = quint8(pending[3]);
            const int length = isRead ? 4 : 4 + count;
            if (pending.size() < length)
                return;
            const QByteArray frame = pending.left(length);
            pending.remove(0, length);
            QByteArray answer;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.append({QString::fromLatin1(frame.toHex(' ').toUpper()),
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start)
                        .count()});
                if (isRead) {
                    answer = dataFrame(address,
                        QByteArray(reinterpret_cast<const char *>(m_image.data() + address),
                            qMin(count, 176 - address)));
                } else {
                    for (int i = 0; i < count && address + i < 176; ++i)
                        m_image[std::size_t(address + i)] = quint8(frame[4 + i]);
                }
            }
            if (!answer.isEmpty())
                sendInChunks(QByteArray::fromHex("00 13 37 42") + answer);
        }
    }

    void sendInChunks(const QByteArray &bytes)
    {
        // Odd sizes, but few of them: the frame cutter gives up on a frame that is
        // still incomplete after ten processing passes, so a 179-byte frame must
        // arrive in fewer than ten reads.
        static const int sizes[] = {3, 7, 1, 45, 64, 29};
        int offset = 0;
        for (int i = 0; offset < bytes.size(); ++i) {
            const int size = qMin(sizes[i % 6], bytes.size() - offset);
            if (write(m_fd, bytes.constData() + offset, std::size_t(size)) != size)
                return;
            offset += size;
            // Pace the line a little so the chunks reach the reader separately.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    const int m_fd;
    const Clock::time_point m_start;
    mutable std::mutex m_mutex;
    std::array<quint8, 176> m_image {};
    QList<Request> m_requests;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

const QStringList connectSequence
    = {"AA 00 34 01 00", "AA 01 00 B0", "AA 01 06 22", "AA 00 34 01 0B"};

} // namespace

// The backend against a module on a pseudo-terminal, through the real link.
class BackendEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectSequenceAndDecodedValues();
    void registerEditReachesTheModuleAndReadsBack();
    void reconnectAtOnceSendsTheSequenceAgain();
    void portThatCannotOpenIsReported();

private:
    int portIndex(const QString &location) const;
    void checkConnectSequence(int from);

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    std::unique_ptr<ModuleResponder> m_module;
    std::unique_ptr<DurUzaBackend> m_backend;
};

int BackendEndToEndTest::portIndex(const QString &location) const
{
    const QList<SerialPortEntry> ports = enumerateSerialPorts();
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].systemLocation == location)
            return i;
    }
    return -1;
}

void BackendEndToEndTest::initTestCase()
{
    char name[256] = {};
    QVERIFY(openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0);
    // Raw line both ways; the test keeps the slave open so the master never sees a
    // hang-up while the backend closes and reopens the port.
    termios tio {};
    QVERIFY(tcgetattr(m_slave, &tio) == 0);
    cfmakeraw(&tio);
    QVERIFY(tcsetattr(m_slave, TCSANOW, &tio) == 0);
    m_slavePath = QString::fromLocal8Bit(name);
    qputenv("VELMAR_EXTRA_PORTS",
        (m_slavePath + QStringLiteral(":/nonexistent/velmar-port")).toLocal8Bit());

    m_module = std::make_unique<ModuleResponder>(m_master);
    QByteArray image(52, '\0');
    image[0] = char(0x42); // Device ID
    image[1] = char(0x01); // Status
    image.replace(2, 2, le16(1442)); // Hardware Version
    image.replace(4, 2, le16(515)); // Software Version
    // The read of the whole map meets an unknown range for these (the range byte
    // comes later in the same pass); the measurement read that follows shows them.
    image.replace(6, 6, le16s({8192, 0, -16384})); // Accelerometer
    image.replace(12, 6, le16s({16384, 0, 0})); // Gyroscope
    image.replace(18, 6, le16s({8192, 0, 0})); // Magnetometer
    image.replace(24, 2, le16(0)); // Temperature
    image.replace(26, 8, le16s({1000, 0, 0, 0})); // Quaternion
    image.replace(34, 6, le16s({4500, -9000, 18000})); // Euler angles
    m_module->setRegister(0, image);
    const auto defaults = defaultBlock();
    m_module->setRegister(
        52, QByteArray(reinterpret_cast<const char *>(defaults.data()), int(defaults.size())));
    m_backend = std::make_unique<DurUzaBackend>();
}

void BackendEndToEndTest::cleanupTestCase()
{
    m_backend.reset(); // stops the link before the line goes away
    m_module.reset();
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
}

void BackendEndToEndTest::checkConnectSequence(int from)
{
    QTRY_COMPARE_WITH_TIMEOUT(m_module->requestHex(from).mid(0, 4), connectSequence, 15000);
    const QList<ModuleResponder::Request> r = m_module->requests().mid(from, 4);
    const qint64 readAllAfterStop = r[1].atMs - r[0].atMs;
    const qint64 measureAfterReadAll = r[2].atMs - r[1].atMs;
    const qint64 streamAfterMeasure = r[3].atMs - r[2].atMs;
    const QString spacing = QStringLiteral("%1 / %2 / %3 ms")
                                .arg(readAllAfterStop)
                                .arg(measureAfterReadAll)
                                .arg(streamAfterMeasure);
    // Loose bounds around 0, 500 and 100 ms: a busy machine stretches them.
    QVERIFY2(readAllAfterStop < 300, qPrintable(spacing));
    QVERIFY2(measureAfterReadAll >= 350 && measureAfterReadAll < 2000, qPrintable(spacing));
    QVERIFY2(streamAfterMeasure >= 20 && streamAfterMeasure < 1000, qPrintable(spacing));
}

void BackendEndToEndTest::connectSequenceAndDecodedValues()
{
    DurUzaBackend &backend = *m_backend;
    const int index = portIndex(m_slavePath);
    QVERIFY(index >= 0);
    QCOMPARE(backend.availablePortsList().at(index), m_slavePath);

    backend.connectClicked(index);
    QVERIFY(backend.isConnected());
    checkConnectSequence(0);

    QTRY_COMPARE_WITH_TIMEOUT(registerNamed(backend, "Device ID")->data(), QVariant(0x42), 15000);
    QCOMPARE(registerNamed(backend, "Hardware Version")->data(), QVariant(1442));
    QCOMPARE(registerNamed(backend, "Software Version")->data(), QVariant(515));
    QCOMPARE(registerNamed(backend, "Temperature")->data().toDouble(), 25.0);
    QCOMPARE(registerNamed(backend, "ACC Scale Factor4")->data().toFloat(), 1.0f);
    QCOMPARE(registerNamed(backend, "ACC_MAG_EFF")->data(), QVariant(10));
    QCOMPARE(backend.accFullScale(), 20.f);
    QCOMPARE(backend.gyroFullScale(), 250.f);
    QCOMPARE(backend.magFullScale(), 2.f);
    QTRY_COMPARE_WITH_TIMEOUT(
        floats(backend.accDataList()), (QList<float> {5.f, 0.f, -10.f}), 15000);
    QCOMPARE(floats(backend.gyroDataList()), (QList<float> {125.f, 0.f, 0.f}));
    QCOMPARE(floats(backend.magDataList()), (QList<float> {0.5f, 0.f, 0.f}));
    QCOMPARE(floats(backend.eulerDataList()), (QList<float> {45.f, -90.f, 180.f}));
    QCOMPARE(backend.qQuat(), QQuaternion(1, 0, 0, 0));
    QCOMPARE(registerNamed(backend, "Accelerometer Z")->data().toFloat(), -10.f);
}

void BackendEndToEndTest::registerEditReachesTheModuleAndReadsBack()
{
    DurUzaBackend &backend = *m_backend;
    QVERIFY(backend.isConnected());
    const int before = m_module->requests().size();
    QVERIFY(backend.writeRegisterText(115, QStringLiteral("2.5")));
    QTRY_COMPARE_WITH_TIMEOUT(m_module->requestHex(before),
        (QStringList {"AA 00 73 04 00 00 20 40", "AA 01 73 04"}), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(
        registerNamed(backend, "Gyroscope Scale Factor X")->data(), QVariant(2.5f), 15000);
}

void BackendEndToEndTest::reconnectAtOnceSendsTheSequenceAgain()
{
    DurUzaBackend &backend = *m_backend;
    const int index = portIndex(m_slavePath);
    QVERIFY(backend.isConnected());
    QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);
    const int before = m_module->requests().size();
    m_module->setRegister(0, QByteArray(1, char(0x43)));

    backend.connectClicked(index); // disconnect
    QVERIFY(!backend.isConnected());
    backend.connectClicked(index); // and connect again at once
    QVERIFY(backend.isConnected());

    checkConnectSequence(before);
    QVERIFY(opened.count() >= 1 || opened.wait(15000));
    QTRY_COMPARE_WITH_TIMEOUT(registerNamed(backend, "Device ID")->data(), QVariant(0x43), 15000);

    QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
    backend.connectClicked(index);
    QVERIFY(!backend.isConnected());
    QVERIFY(closed.wait(15000));
}

void BackendEndToEndTest::portThatCannotOpenIsReported()
{
    // A backend of its own: its pending delayed frames go with it at the end.
    DurUzaBackend backend;
    const int index = portIndex(QStringLiteral("/nonexistent/velmar-port"));
    QVERIFY(index >= 0);
    backend.availablePortsList();
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    // The frames sent at once wait for the port and are dropped: this returns.
    backend.connectClicked(index);
    QVERIFY(errors.count() == 1 || errors.wait(15000));
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("/nonexistent/velmar-port"));
    QVERIFY(!backend.isConnected());
}

QTEST_GUILESS_MAIN(BackendEndToEndTest)
#include "tst_backend_e2e.moc"
