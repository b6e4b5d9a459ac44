// SPDX-License-Identifier: GPL-3.0-or-later
// Export and Import on the register page against the simulated module on a
// pseudo-terminal: Export saves what the module answers now, Import writes
// only the chosen registers and reads them back, and a refused file writes
// nothing (the simulator's request log shows every write it received).
#include "backendtestsupport.h"
#include "modulefiles.h"

#include "backendsim.h"
#include "comshandler.h"
#include "modulesimulator.h"
#include "simhome.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <set>

using namespace backendtest;

namespace {
std::vector<SimRequest> writesOf(const std::vector<SimRequest> &log, std::size_t from = 0)
{
    std::vector<SimRequest> writes;
    for (std::size_t i = from; i < log.size(); ++i) {
        if (log[i].write)
            writes.push_back(log[i]);
    }
    return writes;
}

// The file's text with one register's value replaced.
QByteArray withRegister(const QByteArray &text, const QString &name, const QJsonValue &value)
{
    QJsonObject root = QJsonDocument::fromJson(text).object();
    QJsonObject registers = root.value(QStringLiteral("registers")).toObject();
    registers.insert(name, value);
    root.insert(QStringLiteral("registers"), registers);
    return QJsonDocument(root).toJson();
}

QVariantMap rowNamed(const QVariantList &rows, const QString &name)
{
    for (const QVariant &row : rows) {
        if (row.toMap().value(QStringLiteral("name")).toString() == name)
            return row.toMap();
    }
    return {};
}
} // namespace

class TestModuleFiles : public QObject
{
    Q_OBJECT

private:
    // Writes a module file for `image` into the test folder.
    QString fileOf(const std::array<quint8, 176> &image, const QString &name, int hardware = 1442)
    {
        const QString path = m_rig.home->filePath(name);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return {};
        out.write(writeModuleFile(ModuleFile::fromImage(image.data(), {0x5A, hardware, 210})));
        return path;
    }
    QString textFile(const QString &name, const QByteArray &text)
    {
        const QString path = m_rig.home->filePath(name);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return {};
        out.write(text);
        return path;
    }

    SimulatedModuleHome m_rig;

private slots:
    void init()
    {
        const QString error = m_rig.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // Backups and settings go under the user's folders: here, a fresh one.
        m_rig.useInThisProcess(true);
    }
    void cleanup() { m_rig.stop(); }

    void exportSavesWhatTheModuleAnswersNow()
    {
        DurUzaBackend backend;
        ModuleFiles *files = backend.files();
        QCOMPARE(backend.moduleFiles(), static_cast<QObject *>(files));
        files->setFolder(m_rig.home->filePath(QStringLiteral("exports")));
        QVERIFY(!files->exportModule()); // not connected
        QVERIFY(files->failed());

        connectToSim(backend, *m_rig.sim);
        editRegister(
            backend, QStringLiteral("MAG  Offset X"), QStringLiteral("0.5"), QVariant(0.5f));
        // Changed behind the application's back: the page's image is now stale.
        m_rig.sim->setSensorsRange(0x05);
        const std::size_t logBefore = m_rig.sim->requests().size();
        QSignalSpy exported(files, &ModuleFiles::exported);
        QVERIFY(files->exportModule());
        QVERIFY(files->busy());
        QVERIFY(exported.wait(10000));
        const QString path = exported.first().first().toString();
        QVERIFY2(path.startsWith(files->folder() + QStringLiteral("/velmar-0x5a-hw1442-")),
            qPrintable(path));
        QVERIFY(files->status().contains(QFileInfo(path).fileName()));
        QVERIFY(!files->failed());
        // A read of the whole writable stretch went out for it.
        bool readSent = false;
        const auto log = m_rig.sim->requests();
        for (std::size_t i = logBefore; i < log.size(); ++i)
            readSent |= !log[i].write && log[i].address == 52 && log[i].count == 124;
        QVERIFY(readSent);
        const ModuleFileReading saved = readModuleFile(path);
        QVERIFY2(saved.ok, qPrintable(saved.refusal));
        QCOMPARE(saved.file.trigger, QStringLiteral("export"));
        QCOMPARE(saved.file.identity.hardwareVersion, 1442);
        const auto image = m_rig.sim->registerImage();
        QVERIFY(
            std::equal(saved.file.writable.begin(), saved.file.writable.end(), image.begin() + 52));
        QCOMPARE(int(saved.file.writable[54 - 52]), 0x05);
        QCOMPARE(files->filesInFolder(), QStringList {QFileInfo(path).fileName()});
    }

    void importWritesExactlyTheChosenRowsAndReadsThemBack()
    {
        DurUzaBackend backend;
        ModuleFiles *files = backend.files();
        files->setFolder(m_rig.home->path());
        connectToSim(backend, *m_rig.sim);
        auto wanted = m_rig.sim->registerImage();
        writeF32(&wanted[111], 0.25f); // Gyroscope Offset Z
        wanted[53] = 0x21; // Control2
        writeF32(&wanted[127], 0.75f); // MAG  Offset X
        fileOf(wanted, QStringLiteral("wanted.json"));
        QVERIFY(files->openImport(QStringLiteral("wanted.json"))); // a name in the folder
        QTRY_VERIFY_WITH_TIMEOUT(!files->busy() && !files->importRows().isEmpty(), 10000);
        const QVariantList rows = files->importRows();
        const QVariantMap control2 = rowNamed(rows, QStringLiteral("Control2"));
        QCOMPARE(control2.value(QStringLiteral("fileText")).toString(), QStringLiteral("0x21"));
        QCOMPARE(control2.value(QStringLiteral("moduleText")).toString(), QStringLiteral("0x00"));
        QVERIFY(control2.value(QStringLiteral("differs")).toBool());
        QCOMPARE(rowNamed(rows, QStringLiteral("Gyroscope Offset Z"))
                     .value(QStringLiteral("group"))
                     .toString(),
            QStringLiteral("gyroscope"));
        QVERIFY(
            !rowNamed(rows, QStringLiteral("Control1")).value(QStringLiteral("differs")).toBool());

        // Control2 and the gyroscope block, chosen by one of its registers; not the magnetometer.
        // The table counts the rows of the chosen groups: what the status counts after.
        int counted = 0;
        for (const QVariant &row : rows) {
            const QString group = row.toMap().value(QStringLiteral("group")).toString();
            counted += group == QLatin1String("Control2") || group == QLatin1String("gyroscope");
        }
        QCOMPARE(counted, 4);
        const std::size_t logBefore = m_rig.sim->requests().size();
        QVERIFY(
            files->writeChosen({QStringLiteral("Control2"), QStringLiteral("Gyroscope Offset Z")}));
        QTRY_VERIFY_WITH_TIMEOUT(!files->busy(), 10000);
        QVERIFY2(!files->failed(), qPrintable(files->status()));
        QVERIFY2(files->status().contains(QStringLiteral("holds %1 register(s)").arg(counted)),
            qPrintable(files->status()));
        std::set<int> written;
        for (const SimRequest &w : writesOf(m_rig.sim->requests(), logBefore)) {
            for (int a = w.address; a < w.address + w.count; ++a)
                written.insert(a);
        }
        std::set<int> expected {53};
        for (int a = 103; a < 115; ++a) // the gyroscope offsets
            expected.insert(a);
        QCOMPARE(written, expected);
        const auto now = m_rig.sim->registerImage();
        QCOMPARE(int(now[53]), 0x21);
        QCOMPARE(readF32(&now[111]), 0.25f);
        QCOMPARE(readF32(&now[127]), 0.0f); // not chosen, not written
        const QVariantList after = files->importRows();
        const QVariantMap gz = rowNamed(after, QStringLiteral("Gyroscope Offset Z"));
        QVERIFY(gz.value(QStringLiteral("written")).toBool());
        QCOMPARE(gz.value(QStringLiteral("afterText")).toString(), QStringLiteral("0.25"));
        QVERIFY(!gz.value(QStringLiteral("mismatch")).toBool());
        const QVariantMap mx = rowNamed(after, QStringLiteral("MAG  Offset X"));
        QVERIFY(!mx.value(QStringLiteral("written")).toBool());
        QCOMPARE(mx.value(QStringLiteral("afterText")).toString(), QStringLiteral("0"));
    }

    // With the application's file dialogs: Export saves where the user said
    // (and nothing is read when the user cancels), Import opens what was picked.
    void filesGoWhereTheUserSays()
    {
        DurUzaBackend backend;
        ModuleFiles *files = backend.files();
        files->setFolder(m_rig.home->filePath(QStringLiteral("exports")));
        QString answer;
        QList<QPair<bool, QString>> asked;
        files->setFileAsker([&](bool save, const QString &suggested) {
            asked.append({save, suggested});
            return answer;
        });
        connectToSim(backend, *m_rig.sim);

        const std::size_t logBefore = m_rig.sim->requests().size();
        QVERIFY(!files->exportModule()); // cancelled
        QVERIFY(!files->busy());
        const auto log = m_rig.sim->requests();
        for (std::size_t i = logBefore; i < log.size(); ++i)
            QVERIFY(log[i].write || log[i].address != 52); // no read for an export
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().first);
        QVERIFY2(asked.first().second.startsWith(
                     files->folder() + QStringLiteral("/velmar-0x5a-hw1442-")),
            qPrintable(asked.first().second));

        answer = m_rig.home->filePath(QStringLiteral("elsewhere/mine.json"));
        QSignalSpy exported(files, &ModuleFiles::exported);
        QVERIFY(files->exportModule());
        QVERIFY(exported.wait(10000));
        QCOMPARE(exported.first().first().toString(), answer);
        QVERIFY(readModuleFile(answer).ok);
        // Import looks where the last file went.
        QCOMPARE(files->folder(), m_rig.home->filePath(QStringLiteral("elsewhere")));

        // The path-taking entry point, as the dialog's answer takes it.
        const QString direct = m_rig.home->filePath(QStringLiteral("direct.json"));
        QVERIFY(files->exportModuleTo(direct));
        QVERIFY(exported.wait(10000));
        QCOMPARE(exported.last().first().toString(), direct);

        auto wanted = m_rig.sim->registerImage();
        wanted[53] = 0x21;
        answer = fileOf(wanted, QStringLiteral("picked.json"));
        QVERIFY(files->chooseImport());
        QVERIFY(!asked.last().first);
        QCOMPARE(asked.last().second, files->folder());
        QCOMPARE(files->importPath(), answer);
        QTRY_VERIFY_WITH_TIMEOUT(!files->busy() && !files->importRows().isEmpty(), 10000);
        QVERIFY(rowNamed(files->importRows(), QStringLiteral("Control2"))
                    .value(QStringLiteral("differs"))
                    .toBool());
        files->closeImport();
        answer.clear();
        QVERIFY(!files->chooseImport());
        QVERIFY(files->importPath().isEmpty());

        // Without an asker (no desktop), Import asks nothing.
        files->setFileAsker({});
        QVERIFY(!files->chooseImport());
    }

    // The line under the map speaks of the module as it was: it goes once a
    // register is written from the page or the link goes, but not while an
    // import is open.
    void statusGoesWhenItNoLongerApplies()
    {
        DurUzaBackend backend;
        ModuleFiles *files = backend.files();
        files->setFolder(m_rig.home->filePath(QStringLiteral("exports")));
        connectToSim(backend, *m_rig.sim);
        QSignalSpy exported(files, &ModuleFiles::exported);
        QVERIFY(files->exportModule());
        QVERIFY(exported.wait(10000));
        QVERIFY(files->status().startsWith(QStringLiteral("Saved")));
        editRegister(backend, QStringLiteral("Control2"), QStringLiteral("0x21"), QVariant(0x21));
        QCOMPARE(files->status(), QString());

        auto wanted = m_rig.sim->registerImage();
        wanted[53] = 0x00;
        QVERIFY(files->openImport(fileOf(wanted, QStringLiteral("w.json"))));
        QTRY_VERIFY_WITH_TIMEOUT(!files->busy() && !files->importRows().isEmpty(), 10000);
        const QString choose = files->status();
        QVERIFY(!choose.isEmpty());
        editRegister(backend, QStringLiteral("Control2"), QStringLiteral("0x22"), QVariant(0x22));
        QCOMPARE(files->status(), choose);
        files->closeImport();

        QVERIFY(files->exportModule());
        QVERIFY(exported.wait(10000));
        QVERIFY(!files->status().isEmpty());
        QSignalSpy closed(backend.comsHandler(), &ComsHandler::linkClosed);
        backend.connectClicked(0); // connected: the click disconnects
        QVERIFY(closed.wait(10000));
        QCOMPARE(files->status(), QString());
        // A refusal for want of a connection goes once one opens.
        QVERIFY(!files->exportModule());
        QVERIFY(files->failed());
        QSignalSpy opened(backend.comsHandler(), &ComsHandler::linkOpened);
        connectToSim(backend, *m_rig.sim);
        QVERIFY(opened.count() == 1 || opened.wait(10000));
        QCOMPARE(files->status(), QString());
        QVERIFY(!files->failed());
    }

    void aWriteTheModuleDoesNotTakeIsMarked()
    {
        DurUzaBackend backend;
        ModuleFiles *files = backend.files();
        connectToSim(backend, *m_rig.sim);
        auto wanted = m_rig.sim->registerImage();
        wanted[53] = 0x21;
        writeF32(&wanted[127], 0.75f);
        QVERIFY(files->openImport(fileOf(wanted, QStringLiteral("w.json"))));
        QTRY_VERIFY_WITH_TIMEOUT(!files->busy() && !files->importRows().isEmpty(), 10000);
        m_rig.sim->setIgnoredWrites(53, 1);
        QVERIFY(files->writeChosen({QStringLiteral("Control2"), QStringLiteral("magnetometer")}));
        QTRY_VERIFY_WITH_TIMEOUT(!files->busy(), 10000);
        QVERIFY(files->failed());
        QVERIFY2(
            files->status().contains(QLatin1String("1 register")), qPrintable(files->status()));
        const QVariantList after = files->importRows();
        QVERIFY(
            rowNamed(after, QStringLiteral("Control2")).value(QStringLiteral("mismatch")).toBool());
        QVERIFY(!rowNamed(after, QStringLiteral("MAG  Offset X"))
                     .value(QStringLiteral("mismatch"))
                     .toBool());
        QCOMPARE(readF32(&m_rig.sim->registerImage()[127]), 0.75f);
    }

    void refusedFilesWriteNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("other hardware") << "hardware"
                                        << "hardware version 2542";
        QTest::newRow("malformed") << "malformed"
                                   << "not valid JSON";
        QTest::newRow("out of range") << "range"
                                      << "Control2";
        QTest::newRow("not finite") << "nan"
                                    << "MAG  Offset X";
        QTest::newRow("missing") << "missing"
                                 << "cannot read";
    }
    void refusedFilesWriteNothing()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        DurUzaBackend backend;
        ModuleFiles *files = backend.files();
        connectToSim(backend, *m_rig.sim);
        auto image = m_rig.sim->registerImage();
        image[53] = 0x21;
        QString path;
        const QByteArray good
            = writeModuleFile(ModuleFile::fromImage(image.data(), {0x5A, 1442, 210}));
        if (kind == QLatin1String("hardware"))
            path = fileOf(image, QStringLiteral("f.json"), 2542);
        else if (kind == QLatin1String("malformed"))
            path = textFile(QStringLiteral("f.json"), good.left(good.size() / 2));
        else if (kind == QLatin1String("range"))
            path = textFile(QStringLiteral("f.json"),
                withRegister(good, QStringLiteral("Control2"), QJsonValue(300)));
        else if (kind == QLatin1String("nan"))
            path = textFile(QStringLiteral("f.json"),
                withRegister(
                    good, QStringLiteral("MAG  Offset X"), QJsonValue(QStringLiteral("nan"))));
        else
            path = m_rig.home->filePath(QStringLiteral("none.json"));
        QVERIFY(!path.isEmpty());
        const std::size_t logBefore = m_rig.sim->requests().size();
        QVERIFY(!files->openImport(path));
        QVERIFY(files->failed());
        QVERIFY2(files->status().contains(QLatin1String("refused")), qPrintable(files->status()));
        QVERIFY2(files->status().contains(reason), qPrintable(files->status()));
        QVERIFY(files->importRows().isEmpty());
        QVERIFY(!files->writeChosen({QStringLiteral("Control2")}));
        // A read after the refusal (Export's) is answered; before and around it
        // the module received not one write.
        files->setFolder(m_rig.home->filePath(QStringLiteral("exports")));
        QSignalSpy exported(files, &ModuleFiles::exported);
        QVERIFY(files->exportModule());
        QVERIFY(exported.wait(10000));
        QVERIFY(m_rig.sim->requests().size() > logBefore);
        QVERIFY(writesOf(m_rig.sim->requests(), logBefore).empty());
        QCOMPARE(int(m_rig.sim->registerImage()[53]), 0x00);
    }
};

QTEST_GUILESS_MAIN(TestModuleFiles)
#include "tst_exportimport.moc"
