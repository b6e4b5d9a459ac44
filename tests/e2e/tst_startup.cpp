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
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
