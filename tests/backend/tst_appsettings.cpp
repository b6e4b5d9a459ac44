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

    // Every key of the documented file: a value no part can use is named on the
    // status strip (key and value), left out so that the default applies, and
    // not named again; a usable value is kept as it was, unreported.
    void everyDocumentedKeyIsChecked_data()
    {
        QTest::addColumn<QByteArray>("group");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("usable");
        const struct
        {
            const char *group, *good, *bad;
        } keys[] = {{"window", "geometry=@Rect(10 20 800 600)", "geometry=wide"},
            {"window", "maximized=true", "maximized=sometimes"},
            {"export", "folder=/data/exports", "folder=relative/exports"},
            {"recording", "location=/data/recordings", "location=\"\""},
            {"moduleFiles", "folder=/data/modules", "folder=/a, /b"},
            {"ports", "last=/dev/ttyUSB0", "last=/dev/ttyUSB0, /dev/ttyUSB1"},
            {"connection", "autoReconnect=off", "autoReconnect=later"},
            {"rendering", "mode=software", "mode=garbage"}};
        for (const auto &key : keys) {
            const QByteArray name = QByteArray(key.group) + '/';
            QTest::newRow(name + key.good) << QByteArray(key.group) << QByteArray(key.good) << true;
            QTest::newRow(name + key.bad) << QByteArray(key.group) << QByteArray(key.bad) << false;
        }
    }
    void everyDocumentedKeyIsChecked()
    {
        QFETCH(QByteArray, group);
        QFETCH(QByteArray, line);
        QFETCH(bool, usable);
        const QString key = QString::fromLatin1(group + '/' + line.left(line.indexOf('=')));
        QVERIFY(writeDocumentedFile('[' + group + "]\n" + line + '\n'));
        const QVariant before = AppSettings::open()->value(key);
        QVERIFY(before.isValid());
        {
            DurUzaBackend backend;
            ConnectionController *connection = backend.connectionController();
            connection->attachToApplication(AppSettings::open());
            const QString notice = connection->notice();
            if (usable) {
                QVERIFY2(!notice.contains(key), qPrintable(notice));
                QCOMPARE(AppSettings::open()->value(key), before);
            } else {
                QVERIFY2(notice.contains(key), qPrintable(notice));
                QVERIFY(connection->noticeIsWarning());
                const QVariant after = AppSettings::open()->value(key);
                // Left out, or (a yes/no) set to its default in the usual spelling.
                QVERIFY2(!after.isValid() || after.toString() == QLatin1String("true")
                        || after.toString() == QLatin1String("false"),
                    qPrintable(after.toString()));
            }
        }
        DurUzaBackend again;
        again.connectionController()->attachToApplication(AppSettings::open());
        QVERIFY2(!again.connectionController()->notice().contains(key),
            qPrintable(again.connectionController()->notice()));
    }

    // Replaced before the parts read it: the recording place is the default,
    // not a folder relative to wherever the program was started.
    void aRelativeFolderIsReplacedBeforeItIsUsed()
    {
        QVERIFY(writeDocumentedFile("[recording]\nlocation=somewhere\n"));
        const QStringList problems = AppSettings::repair(*AppSettings::open());
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().contains(QLatin1String("\"somewhere\"")),
            qPrintable(problems.first()));
        DurUzaBackend backend;
        QCOMPARE(backend.recordingController()->location(), RecordingController::defaultLocation());
        // Named on the status strip when the window attaches.
        backend.connectionController()->attachToApplication(AppSettings::open(), problems);
        QVERIFY2(
            backend.connectionController()->notice().contains(QLatin1String("recording/location")),
            qPrintable(backend.connectionController()->notice()));
    }
};

QTEST_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
