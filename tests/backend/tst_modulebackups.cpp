// SPDX-License-Identifier: GPL-3.0-or-later
// The application's automatic backups against the simulated module on a
// pseudo-terminal: taken before Reset Defaults and before a calibration
// writes, listed, and restored, with the module's registers checked each time.
#include "backendtestsupport.h"
#include "modulebackups.h"
#include "modulefiles.h"

#include "backendsim.h"
#include "comshandler.h"
#include "modulesimulator.h"
#include "simhome.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace backendtest;

namespace {
bool sameSettings(const std::array<quint8, 176> &a, const std::array<quint8, 176> &b)
{
    return std::equal(a.begin() + 52, a.end(), b.begin() + 52);
}
} // namespace

class TestModuleBackups : public QObject
{
    Q_OBJECT

private:
    SimulatedModuleHome m_rig;

private slots:
    void init()
    {
        const QString error = m_rig.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // The backups go under the user's data folder: here, a fresh one.
        m_rig.useInThisProcess();
    }
    void cleanup() { m_rig.stop(); }

    void resetDefaultsIsPrecededByABackupThatRestores()
    {
        DurUzaBackend backend;
        auto *backups = backend.backups();
        QCOMPARE(backend.moduleBackups(), static_cast<QObject *>(backups));
        QVERIFY(backups->folder().startsWith(m_rig.home->path()));
        connectToSim(backend, *m_rig.sim);
        editRegister(
            backend, QStringLiteral("MAG  Offset X"), QStringLiteral("0.5"), QVariant(0.5f));
        editRegister(backend, QStringLiteral("Control2"), QStringLiteral("0x21"), QVariant(0x21));
        const auto configured = m_rig.sim->registerImage();

        backend.resetDefaults();
        QTRY_VERIFY_WITH_TIMEOUT(readF32(&m_rig.sim->registerImage()[127]) == 0.0f, 10000);
        QCOMPARE(backups->backups().size(), 1);
        const QVariantMap entry = backups->backups().first().toMap();
        QCOMPARE(entry.value(QStringLiteral("trigger")).toString(),
            QStringLiteral("before Reset Defaults"));
        QCOMPARE(entry.value(QStringLiteral("module")).toString(),
            QStringLiteral("device 0x5A, hardware 1442, software 210"));
        const ModuleFileReading saved
            = readModuleFile(entry.value(QStringLiteral("path")).toString());
        QVERIFY(saved.ok);
        QVERIFY(std::equal(
            saved.file.writable.begin(), saved.file.writable.end(), configured.begin() + 52));

        // Restore: what the reset erased comes back, and the page reads it back.
        backend.requestAllData();
        QTRY_COMPARE_WITH_TIMEOUT(
            registerNamed(backend, QStringLiteral("Control2"))->data(), QVariant(0), 10000);
        QVERIFY(backups->restore(entry.value(QStringLiteral("path")).toString()));
        QTRY_VERIFY_WITH_TIMEOUT(sameSettings(m_rig.sim->registerImage(), configured), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            registerNamed(backend, QStringLiteral("MAG  Offset X"))->data(), QVariant(0.5f), 10000);
        QVERIFY(backups->lastError().isEmpty());
    }

    // Restore says what it would change before it writes, and once the
    // module answered the read after the writes, how it went.
    void restoreShowsTheDifferenceFirstAndSaysWhenDone()
    {
        DurUzaBackend backend;
        auto *backups = backend.backups();
        connectToSim(backend, *m_rig.sim);
        QVERIFY(backups->backupBefore(QStringLiteral("before test")));
        const QString path
            = backups->backups().first().toMap().value(QStringLiteral("path")).toString();
        QVERIFY(backups->differences(path).isEmpty());
        QVERIFY(backups->lastError().isEmpty());

        editRegister(backend, QStringLiteral("Control2"), QStringLiteral("0x21"), QVariant(0x21));
        editRegister(
            backend, QStringLiteral("MAG  Offset X"), QStringLiteral("0.5"), QVariant(0.5f));
        const QVariantList changes = backups->differences(path);
        QCOMPARE(changes.size(), 2);
        const QVariantMap control2 = changes.first().toMap();
        QCOMPARE(control2.value(QStringLiteral("name")).toString(), QStringLiteral("Control2"));
        QCOMPARE(control2.value(QStringLiteral("moduleText")).toString(), QStringLiteral("0x21"));
        QCOMPARE(control2.value(QStringLiteral("fileText")).toString(), QStringLiteral("0x00"));
        QCOMPARE(changes.last().toMap().value(QStringLiteral("name")).toString(),
            QStringLiteral("MAG  Offset X"));

        // What Export said before is about the module as it was.
        backend.files()->setFolder(m_rig.home->filePath(QStringLiteral("exports")));
        QSignalSpy exported(backend.files(), &ModuleFiles::exported);
        QVERIFY(backend.files()->exportModule());
        QVERIFY(exported.wait(10000));
        QVERIFY(!backend.files()->status().isEmpty());
        QSignalSpy state(backups, &ModuleBackups::restoreStateChanged);
        QVERIFY(backups->restore(path));
        QCOMPARE(backend.files()->status(), QString());
        QVERIFY(backups->restoring());
        QVERIFY(!backups->restore(path)); // one at a time
        QTRY_VERIFY_WITH_TIMEOUT(!backups->restoring(), 10000);
        QVERIFY2(
            backups->restoreStatus().startsWith(QStringLiteral("Restored: 2 register(s) written")),
            qPrintable(backups->restoreStatus()));
        QVERIFY(state.count() >= 2); // started, then done
        QCOMPARE(int(m_rig.sim->registerImage()[53]), 0x00);
        QVERIFY(backups->differences(path).isEmpty());

        // A module that does not take a write: said, with how many.
        editRegister(backend, QStringLiteral("Control2"), QStringLiteral("0x21"), QVariant(0x21));
        m_rig.sim->setIgnoredWrites(53, 1);
        QVERIFY(backups->restore(path));
        QTRY_VERIFY_WITH_TIMEOUT(!backups->restoring(), 10000);
        QVERIFY2(
            backups->restoreStatus().contains(QStringLiteral("holds 1 register(s) differently")),
            qPrintable(backups->restoreStatus()));

        // The line was about the module as it was: a link that goes takes it.
        QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
        backend.connectClicked(0);
        QVERIFY(closed.wait(10000));
        QCOMPARE(backups->restoreStatus(), QString());
        QVERIFY(backups->differences(path).isEmpty());
        QVERIFY(backups->lastError().contains(QLatin1String("not connected")));
    }

    void restoreRefusesWhatItCannotTakeAndWritesNothing()
    {
        DurUzaBackend backend;
        auto *backups = backend.backups();
        const QString path = m_rig.home->filePath(QStringLiteral("other.json"));
        {
            std::array<quint8, 176> image {};
            image[52] = 0x33;
            ModuleFile file = ModuleFile::fromImage(image.data(), {0x5A, 2542, 210});
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(writeModuleFile(file));
        }
        // Not connected: nothing is known of the module, nothing is written.
        QVERIFY(!backups->restore(path));
        QVERIFY(backups->lastError().contains(QLatin1String("not connected")));
        QVERIFY(!backups->backupBefore(QStringLiteral("before Reset Defaults")));
        QVERIFY(backups->backups().isEmpty());

        connectToSim(backend, *m_rig.sim);
        const int writes = [&] {
            int n = 0;
            for (const SimRequest &r : m_rig.sim->requests())
                n += r.write ? 1 : 0;
            return n;
        }();
        QVERIFY(!backups->restore(path));
        QVERIFY2(backups->lastError().contains(QLatin1String("hardware version 2542")),
            qPrintable(backups->lastError()));
        QVERIFY(!backups->restore(m_rig.home->filePath(QStringLiteral("missing.json"))));
        QVERIFY(backups->lastError().contains(QLatin1String("cannot read")));
        int after = 0;
        for (const SimRequest &r : m_rig.sim->requests())
            after += r.write ? 1 : 0;
        QCOMPARE(after, writes);
    }

    void gyroscopeCalibrationIsPrecededByABackup()
    {
        DurUzaBackend backend;
        connectToSim(backend, *m_rig.sim);
        editRegister(
            backend, QStringLiteral("Gyroscope Offset Z"), QStringLiteral("0.25"), QVariant(0.25f));
        backend.requestGyroOnly();
        backend.gyroCalButton();
        // The run reads the offsets, then backs up before its first write.
        QTRY_COMPARE_WITH_TIMEOUT(backend.backups()->backups().size(), 1, 15000);
        const QVariantList list = backend.backups()->backups();
        QCOMPARE(list.size(), 1);
        const QVariantMap entry = list.first().toMap();
        QCOMPARE(entry.value(QStringLiteral("trigger")).toString(),
            QStringLiteral("before gyroscope calibration"));
        const ModuleFileReading saved
            = readModuleFile(entry.value(QStringLiteral("path")).toString());
        QVERIFY(saved.ok);
        // The offsets the run read right before its first write.
        QCOMPARE(saved.file.realOf(registerRowAt(111)), 0.25f);
        backend.cancelCalibration();
        backend.requestChartData();
    }

    void resetDefaultsSendsTheFactoryBlock()
    {
        DurUzaBackend backend;
        connectToSim(backend, *m_rig.sim);
        QList<QByteArray> sent;
        backend.setFrameSender([&](const quint8 *data, quint8 length) {
            sent.append(QByteArray(reinterpret_cast<const char *>(data), length));
        });
        QVERIFY(backend.resetDefaults());
        QVERIFY(backend.resetDefaultsError().isEmpty());
        QCOMPARE(sent.size(), 1);
        const QByteArray frame = sent.first();
        QCOMPARE(frame.size(), 4 + 124);
        QCOMPARE(frame.left(4).toHex(' ').toUpper(), QByteArray("AA 00 34 7C"));
        QCOMPARE(frame.mid(4, 3).toHex(' ').toUpper(), QByteArray("85 00 00"));
        // "ACC Scale Factor0" (67) is 1.0, "ACC Offset X" (55) 0.0.
        QCOMPARE(frame.mid(4 + 67 - 52, 4).toHex(' ').toUpper(), QByteArray("00 00 80 3F"));
        QCOMPARE(frame.mid(4 + 55 - 52, 4).toHex(' ').toUpper(), QByteArray("00 00 00 00"));
        QCOMPARE(quint8(frame.back()), quint8(0x0A));
        QCOMPARE(backend.backups()->backups().size(), 1);
        backend.setFrameSender(nullptr);
    }

    // No backup, no write: with a file standing where the backup folder
    // should be, Reset Defaults, a calibration, Restore and Import each
    // refuse, say why, and send the module no write at all.
    void withoutABackupNothingIsWritten_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("Reset Defaults") << "reset";
        QTest::newRow("gyroscope calibration") << "calibration";
        QTest::newRow("Restore") << "restore";
        QTest::newRow("Import") << "import";
    }
    void withoutABackupNothingIsWritten()
    {
        QFETCH(QString, action);
        DurUzaBackend backend;
        connectToSim(backend, *m_rig.sim);
        // A backup made while the folder still worked, to restore from.
        auto wanted = m_rig.sim->registerImage();
        writeF32(&wanted[111], 0.25f);
        const QString path = m_rig.home->filePath(QStringLiteral("wanted.json"));
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(writeModuleFile(ModuleFile::fromImage(wanted.data(), {0x5A, 1442, 210})));
        }
        QFile blocker(m_rig.home->filePath(QStringLiteral("velmar-imu")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // Writes to any register but "Control1" (which the page's reads switch).
        const auto writes = [&] {
            int n = 0;
            for (const SimRequest &r : m_rig.sim->requests())
                n += r.write && r.address + r.count > 53 ? 1 : 0;
            return n;
        };
        const int before = writes();

        QString told;
        if (action == QLatin1String("reset")) {
            QSignalSpy changed(&backend, &DurUzaBackend::resetDefaultsErrorChanged);
            QVERIFY(!backend.resetDefaults());
            QCOMPARE(changed.count(), 1);
            told = backend.resetDefaultsError();
        } else if (action == QLatin1String("calibration")) {
            QSignalSpy failed(&backend, &DurUzaBackend::calibrationFailed);
            backend.requestGyroOnly();
            backend.gyroCalButton();
            QVERIFY(failed.wait(15000));
            told = failed.first().at(1).toString();
        } else if (action == QLatin1String("restore")) {
            QVERIFY(!backend.backups()->restore(path));
            told = backend.backups()->lastError();
        } else {
            ModuleFiles *files = backend.files();
            QVERIFY(files->openImport(path));
            QTRY_VERIFY_WITH_TIMEOUT(!files->busy() && !files->importRows().isEmpty(), 10000);
            QVERIFY(!files->writeChosen({QStringLiteral("gyroscope")}));
            QVERIFY(files->failed());
            told = files->status();
        }
        QVERIFY2(
            told.contains(QLatin1String("ackup")) && told.contains(QLatin1String("velmar-imu")),
            qPrintable(told));
        QVERIFY2(told.contains(QLatin1String("othing was written"))
                || told.contains(QLatin1String("nothing was written")),
            qPrintable(told));
        // Give a stray write time to arrive: a read answered after it proves the line is clear.
        const std::size_t logged = m_rig.sim->requests().size();
        backend.requestAllData();
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.sim->requests().size() > logged, 10000);
        QCOMPARE(writes(), before);
        QCOMPARE(readF32(&m_rig.sim->registerImage()[111]), 0.0f);
        backend.cancelCalibration();
    }
};

QTEST_GUILESS_MAIN(TestModuleBackups)
#include "tst_modulebackups.moc"
