// SPDX-License-Identifier: GPL-3.0-or-later
// Every setting lives in the one documented file, is read from it, and a value
// the application cannot use is reported once and replaced by the default.
#include "appsettings.h"
#include "connectioncontroller.h"
#include "durUzaBackend.h"
#include "modulefiles.h"
#include "recordingcontroller.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestAppSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    QString documentedFile() const
    {
        return m_config.filePath(QStringLiteral("Velmar/Velmar IMU.conf"));
    }
    bool writeDocumentedFile(const QByteArray &text)
    {
        // QSettings caches files within a process: drop it, then write anew.
        AppSettings::open()->clear();
        AppSettings::open()->sync();
        QDir().mkpath(QFileInfo(documentedFile()).absolutePath());
        QFile file(documentedFile());
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(text);
        file.close();
        AppSettings::open()->sync();
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        // Before any settings object exists: QSettings looks it up once.
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        QCOMPARE(AppSettings::open()->fileName(), documentedFile());
    }

    void documentedKeysAreReadAndWrittenThere()
    {
        QVERIFY(writeDocumentedFile("[recording]\nlocation=/somewhere/recordings\n"
                                    "[moduleFiles]\nfolder=/somewhere/modules\n"));
        DurUzaBackend backend;
        QCOMPARE(
            backend.recordingController()->location(), QStringLiteral("/somewhere/recordings"));
        QCOMPARE(backend.files()->folder(), QStringLiteral("/somewhere/modules"));

        backend.files()->setFolder(QStringLiteral("/elsewhere/modules"));
        backend.recordingController()->setLocation(QStringLiteral("/elsewhere/recordings"));
        AppSettings::open()->sync();
        QFile file(documentedFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("folder=/elsewhere/modules"), text.constData());
        QVERIFY2(text.contains("location=/elsewhere/recordings"), text.constData());
        // Nothing under a made-up organisation or the program's own name.
        QVERIFY(!QFileInfo::exists(m_config.filePath(QStringLiteral("Unknown Organization"))));
        QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList {"Velmar"});
    }

    void autoReconnectTakesTheUsualSpellings_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("expected");
        QTest::addColumn<bool>("reported");
        for (const char *yes : {"true", "on", "yes", "1", "Yes", "TRUE"})
            QTest::newRow(yes) << QByteArray(yes) << true << false;
        for (const char *no : {"false", "off", "no", "0", "Off", "NO"})
            QTest::newRow(no) << QByteArray(no) << false << false;
        QTest::newRow("maybe") << QByteArray("maybe") << true << true;
        QTest::newRow("2") << QByteArray("2") << true << true;
    }
    void autoReconnectTakesTheUsualSpellings()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, expected);
        QFETCH(bool, reported);
        QVERIFY(writeDocumentedFile("[connection]\nautoReconnect=" + value + "\n"));
        {
            DurUzaBackend backend;
            ConnectionController *connection = backend.connectionController();
            connection->attachToApplication(AppSettings::open());
            QCOMPARE(connection->autoReconnect(), expected);
            QCOMPARE(connection->notice().contains(QLatin1String("autoReconnect")), reported);
            if (reported) {
                QVERIFY(connection->noticeIsWarning());
                QVERIFY2(connection->notice().contains(QString::fromLatin1(value)),
                    qPrintable(connection->notice()));
            }
        }
        // Reported once: the default took the value's place.
        DurUzaBackend again;
        again.connectionController()->attachToApplication(AppSettings::open());
        QCOMPARE(again.connectionController()->autoReconnect(), expected);
        QVERIFY2(again.connectionController()->notice().isEmpty(),
            qPrintable(again.connectionController()->notice()));
    }
};

QTEST_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
