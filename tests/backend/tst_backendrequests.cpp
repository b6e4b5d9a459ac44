// SPDX-License-Identifier: GPL-3.0-or-later
#include "backendtestsupport.h"

#include "portlist.h"

#include "serialports.h"

#include <QElapsedTimer>
#include <QtTest>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

using namespace backendtest;

namespace {
// A pseudo-terminal that stands in for a port, so the backend can be connected
// while its frames still go to the test's recorder. Nothing answers on it.
class PtyPort
{
public:
    PtyPort()
    {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        termios tio {};
        tcgetattr(m_slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_slave, TCSANOW, &tio);
        m_path = QString::fromLocal8Bit(name);
    }
    ~PtyPort()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    QString path() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
} // namespace

// What the backend puts on the wire, caught by a frame recorder in place of the link.
class BackendRequestsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void requestSequencesSendFramesInOrder_data();
    void requestSequencesSendFramesInOrder();
    void resetDefaultsWritesTheFactoryBlock();

    void writeRegisterText_data();
    void writeRegisterText();
    void registerEditWhileDisconnectedIsRefusedWithReason();
    void disconnectAndLinkErrorClearTheDataProblem();

    void portListEntryFormatsDescription_data();
    void portListEntryFormatsDescription();
    void portListListsEveryEnumeratedPort();
    void portDetailsNameWhatTheSystemKnows_data();
    void portDetailsNameWhatTheSystemKnows();

    void connectWithoutSelectedPortReportsAndStaysDisconnected_data();
    void connectWithoutSelectedPortReportsAndStaysDisconnected();
    void secondConnectClickOnlyStops();
    void portThatCannotOpenIsReportedAndClearsConnected();

private:
    struct Sent
    {
        QByteArray frame;
        qint64 atMs;
    };
    void record(DurUzaBackend &backend)
    {
        m_sent.clear();
        m_clock.start();
        backend.setFrameSender([this](const quint8 *data, quint8 length) {
            m_sent.append(
                {QByteArray(reinterpret_cast<const char *>(data), length), m_clock.elapsed()});
        });
    }
    // Connects `backend` to a fresh pseudo-terminal, then forgets the connect
    // sequence, so only what the test does next is recorded.
    bool connectToPty(DurUzaBackend &backend)
    {
        m_pty = std::make_unique<PtyPort>();
        if (m_pty->path().isEmpty())
            return false;
        qputenv("VELMAR_EXTRA_PORTS", m_pty->path().toLocal8Bit());
        const int index = backend.availablePortsList().indexOf(m_pty->path());
        if (index < 0)
            return false;
        backend.connectClicked(index);
        m_sent.clear();
        return backend.isConnected();
    }
    QStringList sentHex() const
    {
        QStringList hex;
        for (const Sent &s : m_sent)
            hex << QString::fromLatin1(s.frame.toHex(' ').toUpper());
        return hex;
    }

    QList<Sent> m_sent;
    QElapsedTimer m_clock;
    std::unique_ptr<PtyPort> m_pty;
};

void BackendRequestsTest::init()
{
    qunsetenv("VELMAR_EXTRA_PORTS");
}

void BackendRequestsTest::requestSequencesSendFramesInOrder_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QStringList>("now");
    QTest::addColumn<QStringList>("later");
    QTest::newRow("all data") << QByteArray("requestAllData")
                              << QStringList {"AA 00 34 01 00", "AA 01 00 B0"} << QStringList();
    QTest::newRow("chart data") << QByteArray("requestChartData")
                                << QStringList {"AA 00 34 01 00", "AA 01 00 B0"}
                                << QStringList {"AA 01 06 22", "AA 00 34 01 0B"};
    QTest::newRow("acc only") << QByteArray("requestAccOnly")
                              << QStringList {"AA 00 34 01 00", "AA 01 36 01"}
                              << QStringList {"AA 01 06 06", "AA 00 34 01 0C"};
    QTest::newRow("gyro only") << QByteArray("requestGyroOnly")
                               << QStringList {"AA 00 34 01 00", "AA 01 36 01"}
                               << QStringList {"AA 01 0C 06", "AA 00 34 01 0C"};
    QTest::newRow("mag only") << QByteArray("requestMagOnly")
                              << QStringList {"AA 00 34 01 00", "AA 01 36 01"}
                              << QStringList {"AA 01 12 06", "AA 00 34 01 0B"};
    QTest::newRow("range") << QByteArray("requestRangeData") << QStringList {"AA 01 36 01"}
                           << QStringList();
}

void BackendRequestsTest::requestSequencesSendFramesInOrder()
{
    QFETCH(QByteArray, slot);
    QFETCH(QStringList, now);
    QFETCH(QStringList, later);
    DurUzaBackend backend;
    record(backend);
    QVERIFY(QMetaObject::invokeMethod(&backend, slot.constData()));
    QCOMPARE(sentHex(), now);
    QTRY_COMPARE_WITH_TIMEOUT(sentHex(), now + later, 5000);
    if (!later.isEmpty()) {
        // Delayed frames: the read about 500 ms after the call, the switch after it.
        const Sent &read = m_sent.at(now.size());
        const Sent &control = m_sent.at(now.size() + 1);
        QVERIFY2(read.atMs >= 450, qPrintable(QString::number(read.atMs)));
        QVERIFY2(control.atMs >= read.atMs + 50, qPrintable(QString::number(control.atMs)));
    }
}

void BackendRequestsTest::resetDefaultsWritesTheFactoryBlock()
{
    // Without a module whose settings were read there is no backup, so no
    // reset; the factory block's bytes are checked against the simulated
    // module in tst_modulebackups (resetDefaultsSendsTheFactoryBlock).
    DurUzaBackend backend;
    record(backend);
    QVERIFY(!backend.resetDefaults());
    QCOMPARE(m_sent.size(), 0);
    QVERIFY2(backend.resetDefaultsError().contains(QLatin1String("not been read")),
        qPrintable(backend.resetDefaultsError()));
}

void BackendRequestsTest::writeRegisterText_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("frames"); // empty: refused
    // Byte registers: 0x-hexadecimal or decimal 0..255.
    QTest::newRow("control1 hex") << 52 << "0x0B" << QStringList {"AA 00 34 01 0B", "AA 01 34 01"};
    QTest::newRow("control1 hex upper X")
        << 52 << "0X0b" << QStringList {"AA 00 34 01 0B", "AA 01 34 01"};
    QTest::newRow("control1 decimal")
        << 52 << "11" << QStringList {"AA 00 34 01 0B", "AA 01 34 01"};
    QTest::newRow("range 255") << 54 << "255" << QStringList {"AA 00 36 01 FF", "AA 01 36 01"};
    QTest::newRow("padded") << 53 << " 12 " << QStringList {"AA 00 35 01 0C", "AA 01 35 01"};
    QTest::newRow("acc mag eff") << 175 << "0x0A" << QStringList {"AA 00 AF 01 0A", "AA 01 AF 01"};
    QTest::newRow("byte 256") << 52 << "256" << QStringList();
    QTest::newRow("byte 0x100") << 52 << "0x100" << QStringList();
    QTest::newRow("byte negative") << 52 << "-1" << QStringList();
    QTest::newRow("byte real") << 52 << "1.5" << QStringList();
    QTest::newRow("byte bare 0x") << 52 << "0x" << QStringList();
    QTest::newRow("byte empty") << 52 << "" << QStringList();
    QTest::newRow("byte letters") << 52 << "abc" << QStringList();
    QTest::newRow("byte double prefix") << 52 << "0x0x1F" << QStringList();
    // Reals: written as four little-endian bytes of a 32-bit float.
    QTest::newRow("acc offset x 1.5")
        << 55 << "1.5" << QStringList {"AA 00 37 04 00 00 C0 3F", "AA 01 37 04"};
    QTest::newRow("mag offset x -2.25")
        << 127 << "-2.25" << QStringList {"AA 00 7F 04 00 00 10 C0", "AA 01 7F 04"};
    QTest::newRow("exponent") << 171 << "1e-3"
                              << QStringList {"AA 00 AB 04 6F 12 83 3A", "AA 01 AB 04"};
    QTest::newRow("integer text for a real")
        << 103 << "2" << QStringList {"AA 00 67 04 00 00 00 40", "AA 01 67 04"};
    QTest::newRow("real too large for float") << 55 << "1e39" << QStringList();
    QTest::newRow("largest float as printed")
        << 55 << "3.4028235e38" << QStringList {"AA 00 37 04 FF FF 7F 7F", "AA 01 37 04"};
    QTest::newRow("largest float, negative")
        << 59 << "-3.4028235e38" << QStringList {"AA 00 3B 04 FF FF 7F FF", "AA 01 3B 04"};
    QTest::newRow("real too small, would be 0") << 55 << "1e-50" << QStringList();
    QTest::newRow("real too small, would lose digits") << 55 << "1e-40" << QStringList();
    QTest::newRow("real zero") << 55 << "0"
                               << QStringList {"AA 00 37 04 00 00 00 00", "AA 01 37 04"};
    QTest::newRow("real nan") << 55 << "nan" << QStringList();
    QTest::newRow("real inf") << 55 << "inf" << QStringList();
    QTest::newRow("real comma") << 55 << "1,5" << QStringList();
    QTest::newRow("real letters") << 55 << "x" << QStringList();
    // Not writable or not a register.
    QTest::newRow("read-only device id") << 0 << "1" << QStringList();
    QTest::newRow("read-only hardware version") << 2 << "1442" << QStringList();
    QTest::newRow("read-only accelerometer") << 6 << "1.0" << QStringList();
    QTest::newRow("inside a real") << 56 << "1.0" << QStringList();
    QTest::newRow("past the map") << 176 << "1" << QStringList();
    QTest::newRow("negative address") << -1 << "1" << QStringList();
}

void BackendRequestsTest::writeRegisterText()
{
    QFETCH(int, address);
    QFETCH(QString, text);
    QFETCH(QStringList, frames);
    DurUzaBackend backend;
    record(backend);
    QVERIFY(connectToPty(backend));
    QSignalSpy reasons(&backend, &DurUzaBackend::registerWriteErrorChanged);
    QCOMPARE(backend.writeRegisterText(address, text), !frames.isEmpty());
    QCOMPARE(sentHex(), frames);
    // A refusal says why; a write that went out leaves no reason behind.
    QCOMPARE(backend.registerWriteError().isEmpty(), !frames.isEmpty());
    QCOMPARE(reasons.count(), frames.isEmpty() ? 1 : 0);
}

void BackendRequestsTest::registerEditWhileDisconnectedIsRefusedWithReason()
{
    DurUzaBackend backend;
    record(backend);
    QVERIFY(!backend.isConnected());
    QVERIFY(!backend.writeRegisterText(55, QStringLiteral("1.5")));
    QVERIFY(m_sent.isEmpty());
    QVERIFY2(backend.registerWriteError().contains(QStringLiteral("Not connected")),
        qPrintable(backend.registerWriteError()));

    // Connected, the same edit goes out and the reason is gone.
    QVERIFY(connectToPty(backend));
    QVERIFY(backend.writeRegisterText(55, QStringLiteral("1.5")));
    QCOMPARE(m_sent.size(), 2);
    QCOMPARE(backend.registerWriteError(), QString());

    // After Disconnect it is refused again.
    backend.connectClicked(0);
    QVERIFY(!backend.isConnected());
    m_sent.clear();
    QVERIFY(!backend.writeRegisterText(52, QStringLiteral("0x0B")));
    QVERIFY(m_sent.isEmpty());
    QVERIFY(backend.registerWriteError().contains(QStringLiteral("Not connected")));
}

void BackendRequestsTest::disconnectAndLinkErrorClearTheDataProblem()
{
    DurUzaBackend backend;
    record(backend);
    QVERIFY(connectToPty(backend));
    QSignalSpy problems(&backend, &DurUzaBackend::dataProblemChanged);
    setRange(backend, 1234, 0x00);
    QVERIFY(backend.dataProblem().contains(QStringLiteral("1234")));
    backend.connectClicked(0);
    QVERIFY(!backend.isConnected());
    QCOMPARE(backend.dataProblem(), QString());
    QCOMPARE(problems.count(), 2);

    // A port that fails drops the link the same way.
    qputenv("VELMAR_EXTRA_PORTS", "/nonexistent/velmar-port");
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    setRange(backend, 1234, 0x00);
    QVERIFY(!backend.dataProblem().isEmpty());
    backend.connectClicked(backend.availablePortsList().size() - 1);
    QTRY_VERIFY_WITH_TIMEOUT(errors.count() >= 1, 10000);
    QCOMPARE(backend.dataProblem(), QString());
}

void BackendRequestsTest::portListEntryFormatsDescription_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("entry");
    QTest::newRow("with description") << "ttyUSB0"
                                      << "FT232R USB UART"
                                      << "ttyUSB0: FT232R USB UART";
    QTest::newRow("bare name") << "ttyS0"
                               << ""
                               << "ttyS0";
    QTest::newRow("path without description") << "/dev/pts/7"
                                              << ""
                                              << "/dev/pts/7";
}

void BackendRequestsTest::portListEntryFormatsDescription()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, entry);
    QCOMPARE(portListEntry({name, description, QStringLiteral("/dev/") + name}), entry);
}

void BackendRequestsTest::portListListsEveryEnumeratedPort()
{
    qputenv("VELMAR_EXTRA_PORTS", "/tmp/velmar-a:/tmp/velmar-b");
    DurUzaBackend backend;
    const QStringList listed = backend.availablePortsList();
    const QList<SerialPortEntry> ports = enumerateSerialPorts();
    QCOMPARE(listed.size(), ports.size());
    QVERIFY(listed.size() >= 2);
    QCOMPARE(listed.mid(listed.size() - 2), (QStringList {"/tmp/velmar-a", "/tmp/velmar-b"}));
    QCOMPARE(backend.property("availablePortsList").toStringList(), listed);
}

void BackendRequestsTest::portDetailsNameWhatTheSystemKnows_data()
{
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("ids");
    QTest::addColumn<QString>("text");
    QTest::newRow("usb adapter") << "FTDI"
                                 << "A10K3XQ" << true
                                 << "FTDI · product 0403:6001 · serial A10K3XQ";
    QTest::newRow("maker only") << "QinHeng Electronics"
                                << "" << false << "QinHeng Electronics";
    QTest::newRow("identifiers only") << ""
                                      << "" << true << "product 0403:6001";
    QTest::newRow("path or plain uart") << ""
                                        << "" << false << "";
}

void BackendRequestsTest::portDetailsNameWhatTheSystemKnows()
{
    QFETCH(QString, manufacturer);
    QFETCH(QString, serial);
    QFETCH(bool, ids);
    QFETCH(QString, text);
    SerialPortEntry port {QStringLiteral("ttyUSB0"), QStringLiteral("FT232R USB UART"),
        QStringLiteral("/dev/ttyUSB0")};
    port.manufacturer = manufacturer;
    port.serialNumber = serial;
    port.hasIdentifiers = ids;
    port.vendorId = 0x0403;
    port.productId = 0x6001;
    QCOMPARE(portDetailText(port), text);
}

void BackendRequestsTest::connectWithoutSelectedPortReportsAndStaysDisconnected_data()
{
    QTest::addColumn<int>("offsetFromEnd"); // index = list size + offset, or -1
    QTest::addColumn<bool>("minusOne");
    QTest::newRow("no selection") << 0 << true;
    QTest::newRow("one past the list") << 0 << false;
    QTest::newRow("far past the list") << 5 << false;
}

void BackendRequestsTest::connectWithoutSelectedPortReportsAndStaysDisconnected()
{
    QFETCH(int, offsetFromEnd);
    QFETCH(bool, minusOne);
    DurUzaBackend backend;
    record(backend);
    const int index = minusOne ? -1 : backend.availablePortsList().size() + offsetFromEnd;
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    backend.connectClicked(index);
    QVERIFY(!backend.isConnected());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).toString(), QString());
    QCOMPARE(errors.first().at(1).toString(), QStringLiteral("No serial port selected"));
    QVERIFY(m_sent.isEmpty());
    // Still a connect, not a disconnect, on the next click.
    backend.connectClicked(index);
    QCOMPARE(errors.count(), 2);
}

void BackendRequestsTest::secondConnectClickOnlyStops()
{
    qputenv("VELMAR_EXTRA_PORTS", "/nonexistent/velmar-port");
    DurUzaBackend backend;
    record(backend);
    const int index = backend.availablePortsList().size() - 1;
    backend.connectClicked(index);
    QVERIFY(backend.isConnected());
    QCOMPARE(sentHex(), (QStringList {"AA 00 34 01 00", "AA 01 00 B0"}));
    backend.connectClicked(index);
    QVERIFY(!backend.isConnected());
    QCOMPARE(m_sent.size(), 2);
    // The delayed half of the connect sequence still goes out.
    QTRY_COMPARE_WITH_TIMEOUT(m_sent.size(), 4, 5000);
}

void BackendRequestsTest::portThatCannotOpenIsReportedAndClearsConnected()
{
    qputenv("VELMAR_EXTRA_PORTS", "/nonexistent/velmar-port");
    DurUzaBackend backend;
    record(backend);
    QSignalSpy errors(&backend, &DurUzaBackend::connectionError);
    backend.connectClicked(backend.availablePortsList().size() - 1);
    QVERIFY(backend.isConnected()); // follows the button until the link says otherwise
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("/nonexistent/velmar-port"));
    QVERIFY(!errors.first().at(1).toString().isEmpty());
    QVERIFY(!backend.isConnected());
}

QTEST_GUILESS_MAIN(BackendRequestsTest)
#include "tst_backendrequests.moc"
