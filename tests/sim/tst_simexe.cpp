// SPDX-License-Identifier: GPL-3.0-or-later
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
        for (const char *option :
            {"--link", "--control", "--no-stdin", "--hw", "--range", "--rate", "--pose", "--rotate",
                "--tumble", "--ideal", "--seed", "--rotated-soft-iron", "--noise", "--split",
                "--truncate", "--status", "--raw-noise", "--header-noise", "--cut"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }

    // A value that is not a finite number in range stops the simulator before
    // it serves, with the option, the value and the range on standard error.
    void badOptionValuesAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        QTest::newRow("rate nan") << QStringList {"--rate", "nan"}
                                  << "--rate: nan is not a number from 0.01 to 100000";
        QTest::newRow("rate inf") << QStringList {"--rate", "inf"} << "--rate: inf is not a number";
        QTest::newRow("rate 0") << QStringList {"--rate", "0"} << "--rate: 0 is not a number";
        QTest::newRow("noise nan")
            << QStringList {"--noise", "nan"} << "--noise: nan is not a number from 0 to 1";
        QTest::newRow("noise -inf") << QStringList {"--noise", "-inf"} << "--noise: -inf";
        QTest::newRow("split nan") << QStringList {"--split", "nan"} << "--split: nan";
        QTest::newRow("truncate nan") << QStringList {"--truncate", "nan"} << "--truncate: nan";
        QTest::newRow("status nan") << QStringList {"--status", "nan"} << "--status: nan";
        QTest::newRow("header noise nan")
            << QStringList {"--header-noise", "nan"} << "--header-noise: nan";
        QTest::newRow("cut nan") << QStringList {"--cut", "nan"} << "--cut: nan";
        QTest::newRow("seed nan") << QStringList {"--seed", "nan"}
                                  << "--seed: nan is not a whole number";
        QTest::newRow("seed fraction")
            << QStringList {"--seed", "2.5"} << "--seed: 2.5 is not a whole number";
        QTest::newRow("hw nan") << QStringList {"--hw", "nan"}
                                << "--hw: nan is not a whole number from 0 to 65535";
        QTest::newRow("hw too big") << QStringList {"--hw", "70000"} << "--hw: 70000";
        QTest::newRow("range nan") << QStringList {"--range", "nan"} << "--range: nan";
        QTest::newRow("rotate nan")
            << QStringList {"--rotate", "z:nan"} << "--rotate: nan is not a number";
        QTest::newRow("rotate inf")
            << QStringList {"--rotate", "x:inf"} << "--rotate: inf is not a number";
    }
    void badOptionValuesAreRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        QProcess sim;
        sim.start(QStringLiteral(VELMAR_SIM_EXE), arguments << QStringLiteral("--no-stdin"));
        const bool finished = sim.waitForFinished(10000);
        if (!finished) { // serving: the value was taken
            sim.kill();
            sim.waitForFinished();
        }
        QVERIFY2(finished, "the simulator started serving");
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 2);
        const QString error = QString::fromUtf8(sim.readAllStandardError());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY(sim.readAllStandardOutput().isEmpty()); // no device path: it never served
    }

    // Megabytes without a newline are dropped as one over-long line, read in
    // time linear in their length, and the next command still works.
    void overlongControlLineIsDroppedAndTheNextCommandWorks()
    {
        QProcess sim;
        sim.start(QStringLiteral(VELMAR_SIM_EXE), {QStringLiteral("--ideal")});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
        const QString device = QString::fromUtf8(sim.readLine()).trimmed();
        sim.write(QByteArray(8 * 1024 * 1024, 'x'));
        sim.write("\nhw 2542\n");

        PtyClient client;
        QVERIFY(client.open(device));
        auto ask = [&client](const QByteArray &request) {
            client.received().clear();
            client.send(request);
            client.readUntil(
                [](const QByteArray &r) { return r.size() >= 3 && r.size() >= 3 + quint8(r[2]); },
                5000);
            return client.received();
        };
        QTRY_COMPARE_WITH_TIMEOUT(ask(readRequest(2, 2)), QByteArray::fromHex("BB0202EE09"), 60000);
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += sim.readAllStandardOutput()).contains("\n"), 10000);
        QCOMPARE(output,
            QByteArray("error: control line longer than 4096 bytes, ignored up to its end\n"));

        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
    }

    void servesOnItsLinkTakesCommandsAndCleansUp()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("imu"));
        const QString fifo = dir.filePath(QStringLiteral("control"));
        QProcess sim;
        sim.start(QStringLiteral(VELMAR_SIM_EXE),
            {QStringLiteral("--link"), link, QStringLiteral("--control"), fifo,
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
            client.readUntil(
                [&request](
                    const QByteArray &r) { return r.size() >= 3 && r.size() >= 3 + quint8(r[2]); },
                5000);
            return client.received();
        };
        // The control lines are read on the simulator's own schedule.
        QTRY_COMPARE_WITH_TIMEOUT(ask(readRequest(2, 2)), QByteArray::fromHex("BB0202EE09"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            ask(readRequest(0x36, 1)), QByteArray::fromHex("BB360108"), 10000);

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
