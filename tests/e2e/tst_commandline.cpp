// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable with --port and --connect against the simulated module:
// it connects by itself to the port named, and keeps it as the last port used.
#include "sim.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void portAndConnectReachTheModuleAndAreRemembered()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ModuleSimulator::Options options;
        options.linkPath = dir.filePath(QStringLiteral("module"));
        options.streamRate = 20;
        ModuleSimulator module(options);
        QString error;
        QVERIFY2(module.start(&error), qPrintable(error));

        QProcess app;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Settings of its own, and no listed ports: only --port names the module.
        environment.insert(
            QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        environment.remove(QStringLiteral("VELMAR_EXTRA_PORTS"));
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(QStringLiteral(VELMAR_IMU_PATH),
            {QStringLiteral("--port"), module.linkPath(), QStringLiteral("--connect"),
                QStringLiteral("--verbose")});
        QVERIFY2(app.waitForStarted(10000), qPrintable(app.errorString()));
        QByteArray output;
        // Streaming: the whole connect sequence reached the module.
        QTRY_VERIFY2_WITH_TIMEOUT(
            module.counters().streamFrames > 20, (output += app.readAll()).constData(), 30000);
        output += app.readAll();
        QVERIFY2(output.contains("Selected: \"" + module.linkPath().toLocal8Bit() + "\""),
            output.constData());
        app.terminate();
        QVERIFY(app.waitForFinished(10000));

        const QSettings settings(
            dir.filePath(QStringLiteral("config/Velmar/Velmar IMU.conf")), QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("ports/last")).toString(), module.linkPath());
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
