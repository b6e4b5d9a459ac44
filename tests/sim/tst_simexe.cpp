// velmar-sim as a user runs it: device path, link, control lines, clean exit.

#include "ptyclient.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestSimExecutable : public QObject
{
    Q_OBJECT

private slots:
    void helpListsEveryOption()
    {
        QProcess sim;
        sim.start(QStringLiteral(VELMAR_SIM_EXE), {QStringLiteral("--help")});
        QVERIFY(sim.waitForFinished(10000));
        const QString help = QString::fromUtf8(sim.readAllStandardOutput());
        for (const char *option : {"--link", "--control", "--no-stdin", "--hw", "--range", "--rate", "--pose",
                                   "--rotate", "--tumble", "--ideal", "--seed", "--rotated-soft-iron", "--noise",
                                   "--split", "--truncate", "--status"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }

    void servesOnItsLinkTakesCommandsAndCleansUp()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("imu"));
        const QString fifo = dir.filePath(QStringLiteral("control"));
        QProcess sim;
        sim.start(QStringLiteral(VELMAR_SIM_EXE), {QStringLiteral("--link"), link, QStringLiteral("--control"), fifo,
                                                   QStringLiteral("--ideal")});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
        const QString device = QString::fromUtf8(sim.readLine()).trimmed();
        QVERIFY(device.startsWith(QLatin1String("/dev/")));
        QTRY_COMPARE(QFileInfo(link).symLinkTarget(), device);

        // A command on standard input, another through the FIFO.
        sim.write("hw 2542\n");
        QFile control(fifo);
        QTRY_VERIFY(QFileInfo(fifo).exists());
        QVERIFY(control.open(QIODevice::WriteOnly));
        control.write("range 0x08\n");
        control.close();

        PtyClient client;
        QVERIFY(client.open(link));
        auto ask = [&client](const QByteArray &request) {
            client.received().clear();
            client.send(request);
            client.readUntil([&request](const QByteArray &r) { return r.size() >= 3 && r.size() >= 3 + quint8(r[2]); }, 5000);
            return client.received();
        };
        // The control lines are read on the simulator's own schedule.
        QTRY_COMPARE_WITH_TIMEOUT(ask(readRequest(2, 2)), QByteArray::fromHex("BB0202EE09"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(ask(readRequest(0x36, 1)), QByteArray::fromHex("BB360108"), 10000);

        sim.terminate(); // SIGTERM
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo(fifo).exists());
    }
};

QTEST_GUILESS_MAIN(TestSimExecutable)
#include "tst_simexe.moc"
