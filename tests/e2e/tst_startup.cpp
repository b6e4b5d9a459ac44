// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the real executable, as a user would, and reads what it reports on
// its debug stream: the main document loads from the resources with every
// type it needs registered, and the window comes up behind the splash.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void mainDocumentLoadsAndWindowIsCreated()
    {
        QProcess app;
        app.setProcessChannelMode(QProcess::MergedChannels);
        // The window remembers its size and place: not in the user's settings.
        QTemporaryDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(
            QStringLiteral("XDG_STATE_HOME"), config.filePath(QStringLiteral("state")));
        // The debug lines, on the terminal too.
        environment.insert(QStringLiteral("VELMAR_IMU_VERBOSE"), QStringLiteral("1"));
        app.setProcessEnvironment(environment);
        // Extra arguments reach only the application object.
        app.start(
            QStringLiteral(VELMAR_IMU_PATH), {QStringLiteral("--unused"), QStringLiteral("extra")});
        QVERIFY2(app.waitForStarted(10000), qPrintable(app.errorString()));

        QByteArray output;
        auto read = [&] {
            output += app.readAll();
            return output;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(
            read().contains("Main Window Root Done!"), output.constData(), 20000);
        QVERIFY(output.contains("Splash Done!"));
        QVERIFY(output.contains("ActiveChanged  true"));
        // Still running: a document that failed to load would have ended it with -1.
        QCOMPARE(app.state(), QProcess::Running);
        QVERIFY2(!output.contains("qrc:/"), output.constData()); // no QML warnings

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }

    // Without --verbose the terminal keeps quiet and the log gets the lines.
    void debugLinesGoToTheLogUnlessAskedFor()
    {
        QProcess app;
        app.setProcessChannelMode(QProcess::MergedChannels);
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(
            QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
        environment.remove(QStringLiteral("VELMAR_IMU_VERBOSE"));
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(VELMAR_IMU_PATH), QStringList());
        QVERIFY2(app.waitForStarted(10000), qPrintable(app.errorString()));

        QFile log(home.filePath(QStringLiteral("state/velmar-imu/velmar-imu.log")));
        auto logged = [&] {
            if (!log.isOpen() && !log.open(QIODevice::ReadOnly))
                return QByteArray();
            log.seek(0);
            return log.readAll();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(logged().contains("Main Window Root Done!"),
            qPrintable(log.fileName() + QStringLiteral(" holds no start-up line")), 20000);
        QVERIFY(logged().contains("Splash Done!"));
        const QByteArray output = app.readAll();
        QVERIFY2(!output.contains("Main Window Root Done!") && !output.contains("Splash Done!"),
            output.constData());
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
