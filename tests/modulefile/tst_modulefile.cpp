// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupstore.h"
#include "modulefile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const ModuleFileIdentity identity {0x5A, 1442, 210};

int rowOf(const char *name)
{
    for (int row = 0; row < registerCount; ++row) {
        if (std::strcmp(registerCatalogue[std::size_t(row)].name, name) == 0)
            return row;
    }
    return -1;
}

// A register space whose writable registers hold values unlike their
// defaults: awkward reals (not short in decimal, tiny, negative) and bytes.
std::array<quint8, RegisterMap::Size> sampleImage()
{
    std::array<quint8, RegisterMap::Size> image {};
    image[0] = 0x5A;
    writeU16(&image[2], 1442);
    writeU16(&image[4], 210);
    image[52] = 0x0B;
    image[53] = 0x7F;
    image[54] = 0x1C;
    float value = 0.1f;
    for (int at = 55; at < 175; at += 4) {
        writeF32(&image[std::size_t(at)], value);
        value = -value * 3.3333333f + 1e-7f;
    }
    image[175] = 0x0A;
    return image;
}

QJsonObject sampleJson()
{
    const auto image = sampleImage();
    ModuleFile file = ModuleFile::fromImage(image.data(), identity);
    file.application = QStringLiteral("tst_modulefile");
    file.trigger = QStringLiteral("export");
    return QJsonDocument::fromJson(writeModuleFile(file)).object();
}

QByteArray withRegister(const QString &name, const QJsonValue &value)
{
    QJsonObject root = sampleJson();
    QJsonObject registers = root.value(QStringLiteral("registers")).toObject();
    registers.insert(name, value);
    root.insert(QStringLiteral("registers"), registers);
    return QJsonDocument(root).toJson();
}

QByteArray withCalibrationValue(
    const char *block, const char *key, int index, const QJsonValue &value)
{
    QJsonObject root = sampleJson();
    QJsonObject calibration = root.value(QStringLiteral("calibration")).toObject();
    QJsonObject entry = calibration.value(QLatin1String(block)).toObject();
    QJsonArray values = entry.value(QLatin1String(key)).toArray();
    values[index] = value;
    entry.insert(QLatin1String(key), values);
    calibration.insert(QLatin1String(block), entry);
    root.insert(QStringLiteral("calibration"), calibration);
    return QJsonDocument(root).toJson();
}

QByteArray withRoot(const QString &key, const QJsonValue &value)
{
    QJsonObject root = sampleJson();
    if (value.isUndefined())
        root.remove(key);
    else
        root.insert(key, value);
    return QJsonDocument(root).toJson();
}

} // namespace

class TestModuleFile : public QObject
{
    Q_OBJECT

private slots:
    void writtenFileReadsBackToTheSameBytesAndIdentity()
    {
        const auto image = sampleImage();
        ModuleFile file = ModuleFile::fromImage(image.data(), identity);
        file.application = QStringLiteral("velmar-cli 0.1.0");
        file.trigger = QStringLiteral("export");
        file.quality[int(CalibrationBlock::Gyroscope)] = 87;
        const ModuleFileReading reading = readModuleFile(writeModuleFile(file));
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        QVERIFY(reading.file.writable == file.writable);
        QCOMPARE(int(reading.file.present.count()), 34);
        QCOMPARE(reading.file.identity.deviceId, 0x5A);
        QCOMPARE(reading.file.identity.hardwareVersion, 1442);
        QCOMPARE(reading.file.identity.softwareVersion, 210);
        QCOMPARE(reading.file.application, file.application);
        QCOMPARE(reading.file.trigger, file.trigger);
        QCOMPARE(reading.file.savedAt, file.savedAt.toUTC());
        QCOMPARE(reading.file.quality[int(CalibrationBlock::Gyroscope)], 87.0);
        QVERIFY(reading.file.quality[int(CalibrationBlock::Accelerometer)] < 0);
    }

    void realsAreWrittenAsTheirShortestText()
    {
        std::array<quint8, RegisterMap::Size> image = sampleImage();
        writeF32(&image[55], 0.1f);
        const QByteArray text = writeModuleFile(ModuleFile::fromImage(image.data(), identity));
        QVERIFY2(text.contains("\"ACC Offset X\": 0.1,"), text.constData());
        QVERIFY(text.contains("\"Control1\": \"0x0B\""));
        // Registers in catalogue order, so a person finds them as on the page.
        QVERIFY(text.indexOf("\"Control1\"") < text.indexOf("\"ACC Offset X\""));
        QVERIFY(text.indexOf("\"MAG Scale Factor8\"") < text.indexOf("\"ACC_MAG_EFF\""));
    }

    void nonFiniteValueIsKeptInABackupButRefusedOnReading()
    {
        std::array<quint8, RegisterMap::Size> image = sampleImage();
        writeF32(&image[103], std::numeric_limits<float>::quiet_NaN());
        const QByteArray text = writeModuleFile(ModuleFile::fromImage(image.data(), identity));
        QVERIFY(text.contains("\"Gyroscope Offset X\": \"nan\""));
        const ModuleFileReading reading = readModuleFile(text);
        QVERIFY(!reading.ok);
        QVERIFY2(reading.refusal.contains(QLatin1String("not a finite number")),
            qPrintable(reading.refusal));
    }

    void faultyFileIsRefusedWholeWithItsReason_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("malformed JSON")
            << QByteArray("{\"format\": \"velmar-module-file\",") << "not valid JSON";
        QTest::newRow("not an object") << QByteArray("[1, 2]") << "not an object";
        QTest::newRow("another format")
            << withRoot(QStringLiteral("format"), QStringLiteral("something-else"))
            << "not a module file";
        QTest::newRow("newer version") << withRoot(QStringLiteral("formatVersion"), 2) << "newer";
        QTest::newRow("no identity")
            << withRoot(QStringLiteral("module"), QJsonValue::Undefined) << "\"module\" must give";
        QTest::newRow("no date") << withRoot(QStringLiteral("savedAt"), QStringLiteral("yesterday"))
                                 << "savedAt";
        QTest::newRow("no registers")
            << withRoot(QStringLiteral("registers"), QJsonValue::Undefined) << "\"registers\"";
        QTest::newRow("unknown register")
            << withRegister(QStringLiteral("MAG Offset X"), 1.0) // one blank, not two
            << "unknown register \"MAG Offset X\"";
        QTest::newRow("read-only register")
            << withRegister(QStringLiteral("Temperature"), 20.0) << "read-only";
        QTest::newRow("byte out of range")
            << withRegister(QStringLiteral("Control1"), QStringLiteral("0x100")) << "not a byte";
        QTest::newRow("byte not whole")
            << withRegister(QStringLiteral("ACC_MAG_EFF"), 2.5) << "not a byte";
        QTest::newRow("negative byte")
            << withRegister(QStringLiteral("Control2"), -1) << "not a byte";
        QTest::newRow("real too large")
            << withRegister(QStringLiteral("MAG Scale Factor4"), 1e39) << "too large";
        QTest::newRow("real not parseable") << withRegister(QStringLiteral("ACC Offset Y"),
            QStringLiteral("one")) << "not a number";
        QTest::newRow("real infinite") << withRegister(QStringLiteral("ACC Offset Y"),
            QStringLiteral("-inf")) << "not a finite number";
        QTest::newRow("value of no kind")
            << withRegister(QStringLiteral("Control1"), QJsonValue::Null) << "has no value";
        QTest::newRow("calibration NaN") << withCalibrationValue("magnetometer", "matrix", 4,
            QStringLiteral("nan")) << "not a finite number";
        QTest::newRow("calibration too short") << [] {
            QJsonObject root = sampleJson();
            QJsonObject calibration = root.value(QStringLiteral("calibration")).toObject();
            calibration.insert(QStringLiteral("gyroscope"),
                QJsonObject {{QStringLiteral("offset"), QJsonArray {0.0, 0.0}}});
            root.insert(QStringLiteral("calibration"), calibration);
            return QJsonDocument(root).toJson();
        }() << "must hold 3 numbers";
        QTest::newRow("calibration disagrees with register")
            << withCalibrationValue("accelerometer", "offset", 1, 0.5) << "but register";
        QTest::newRow("quality out of range") << [] {
            QJsonObject root = sampleJson();
            QJsonObject calibration = root.value(QStringLiteral("calibration")).toObject();
            QJsonObject gyro = calibration.value(QStringLiteral("gyroscope")).toObject();
            gyro.insert(QStringLiteral("quality"), 150);
            calibration.insert(QStringLiteral("gyroscope"), gyro);
            root.insert(QStringLiteral("calibration"), calibration);
            return QJsonDocument(root).toJson();
        }() << "quality must be 0 to 100";
    }

    void faultyFileIsRefusedWholeWithItsReason()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        const ModuleFileReading reading = readModuleFile(text);
        QVERIFY(!reading.ok);
        QVERIFY2(reading.refusal.contains(reason), qPrintable(reading.refusal));
    }

    void handMadeFileGivesOnlyItsRegisters()
    {
        const QByteArray text = R"({"format": "velmar-module-file", "formatVersion": 1,
            "savedAt": "2026-12-08T08:00:00Z",
            "module": {"deviceId": 90, "hardwareVersion": 1442, "softwareVersion": 210},
            "registers": {"ACC_MAG_EFF": 11, "Gyroscope Offset Y": "-0.25"},
            "calibration": {"magnetometer": {"offset": [1, 2, 3],
                "matrix": [1, 0, 0, 0, 1, 0, 0, 0, 1]}}})";
        const ModuleFileReading reading = readModuleFile(text);
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        const ModuleFile &file = reading.file;
        QCOMPARE(int(file.present.count()), 2 + 12);
        QCOMPARE(int(*file.bytesOf(rowOf("ACC_MAG_EFF"))), 11);
        QCOMPARE(file.realOf(rowOf("Gyroscope Offset Y")), -0.25f);
        QCOMPARE(file.realOf(rowOf("MAG  Offset Z")), 3.0f);
        QCOMPARE(file.realOf(rowOf("MAG Scale Factor4")), 1.0f);
        QVERIFY(!file.has(rowOf("Control1")));
    }

    void fileForAnotherHardwareVersionIsNotForThisModule()
    {
        const auto image = sampleImage();
        const ModuleFile file = ModuleFile::fromImage(image.data(), identity);
        QVERIFY(compatibilityRefusal(file, identity).isEmpty());
        // Another module of the same hardware takes it.
        QVERIFY(compatibilityRefusal(file, {0x11, 1442, 300}).isEmpty());
        const QString refusal = compatibilityRefusal(file, {0x5A, 2542, 210});
        QVERIFY(refusal.contains(QLatin1String("1442")));
        QVERIFY(refusal.contains(QLatin1String("2542")));
    }

    void comparisonMarksExactlyTheRegistersThatDiffer()
    {
        const auto image = sampleImage();
        const ModuleFile file = ModuleFile::fromImage(image.data(), identity);
        auto module = image;
        module[52] = 0x00; // Control1
        writeF32(&module[111], 2.0f); // Gyroscope Offset Z
        module[60] ^= 0x01; // the lowest bit of ACC Offset Y
        const QVector<RegisterComparison> rows = compareWithImage(file, module.data());
        QCOMPARE(rows.size(), 34);
        QStringList differing;
        for (const RegisterComparison &row : rows) {
            if (row.differs)
                differing << row.name;
        }
        QCOMPARE(differing, QStringList({"Control1", "ACC Offset Y", "Gyroscope Offset Z"}));
        QCOMPARE(rows.first().fileText, QStringLiteral("0x0B"));
        QCOMPARE(rows.first().moduleText, QStringLiteral("0x00"));
    }

    void wordsNameWholeBlocksOrSingleRegisters()
    {
        QCOMPARE(rowsNamed(QStringLiteral("gyroscope")).size(), 3);
        QCOMPARE(rowsNamed(QStringLiteral("Magnetometer")).size(), 12);
        QCOMPARE(rowsNamed(QStringLiteral("accelerometer")).first(), rowOf("ACC Offset X"));
        QCOMPARE(rowsNamed(QStringLiteral("Control1")), QVector<int>({rowOf("Control1")}));
        QVERIFY(rowsNamed(QStringLiteral("compass")).isEmpty());
    }

    void chosenRowsAreWrittenInRunsOfNeighbours()
    {
        std::bitset<registerCount> rows;
        QVERIFY(writeRuns(rows).isEmpty());
        // Control1 and Control2 (bytes), then ACC Offset Y alone (a real), and
        // the last register: three requests, each as long as its registers.
        rows.set(std::size_t(rowOf("Control1")));
        rows.set(std::size_t(rowOf("Control2")));
        rows.set(std::size_t(rowOf("ACC Offset Y")));
        rows.set(std::size_t(rowOf("ACC_MAG_EFF")));
        const QVector<RegisterSpan> runs = writeRuns(rows);
        QCOMPARE(runs.size(), 3);
        QCOMPARE(int(runs[0].address), 52);
        QCOMPARE(int(runs[0].count), 2);
        QCOMPARE(int(runs[1].address), 59);
        QCOMPARE(int(runs[1].count), 4);
        QCOMPARE(int(runs[2].address), 175);
        QCOMPARE(int(runs[2].count), 1);
        // Every writable register: one request over the whole writable stretch.
        const ModuleFile file = ModuleFile::fromImage(sampleImage().data(), identity);
        const QVector<RegisterSpan> all = writeRuns(file.present);
        QCOMPARE(all.size(), 1);
        QCOMPARE(int(all[0].address), int(RegisterMap::Writable.address));
        QCOMPARE(int(all[0].count), int(RegisterMap::Writable.count));
        QCOMPARE(file.bytesAt(59), file.bytesOf(rowOf("ACC Offset Y")));
    }

    void backupsAreListedNewestFirstWithTheirTrigger()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        BackupStore store(dir.filePath(QStringLiteral("backups")));
        const auto image = sampleImage();
        ModuleFile older = ModuleFile::fromImage(image.data(), identity);
        older.savedAt = QDateTime(QDate(2026, 12, 1), QTime(10, 0), Qt::UTC);
        ModuleFile newer = ModuleFile::fromImage(image.data(), {0x11, 2542, 300});
        newer.savedAt = QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::UTC);
        QString error;
        const QString first = store.save(older, QStringLiteral("before Reset Defaults"), &error);
        QVERIFY2(!first.isEmpty(), qPrintable(error));
        QVERIFY(!store.save(newer, QStringLiteral("before gyroscope calibration")).isEmpty());
        // The same moment twice keeps both files.
        QVERIFY(!store.save(newer, QStringLiteral("before gyroscope calibration")).isEmpty());
        QFile stray(dir.filePath(QStringLiteral("backups/notes.json")));
        QVERIFY(stray.open(QIODevice::WriteOnly));
        stray.write("not a backup");
        stray.close();

        int skipped = 0;
        const QVector<BackupEntry> entries = store.list(&skipped);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(skipped, 1);
        QCOMPARE(entries[0].trigger, QStringLiteral("before gyroscope calibration"));
        QCOMPARE(entries[0].identity.hardwareVersion, 2542);
        QCOMPARE(entries[0].savedAt, newer.savedAt);
        QCOMPARE(entries[2].trigger, QStringLiteral("before Reset Defaults"));
        QCOMPARE(entries[2].path, first);
        QVERIFY(entries[0].path != entries[1].path);
        // A backup is a module file: it reads back as one.
        const ModuleFileReading reading = readModuleFile(first);
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        QVERIFY(reading.file.writable == older.writable);
    }

    void backupThatCannotBeWrittenSaysWhy()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // A folder below a regular file cannot exist.
        BackupStore store(dir.filePath(QStringLiteral("file/backups")));
        const auto image = sampleImage();
        QString error;
        QVERIFY(
            store.save(ModuleFile::fromImage(image.data(), identity), QStringLiteral("t"), &error)
                .isEmpty());
        QVERIFY(error.contains(QLatin1String("cannot create")));
    }

    void defaultFolderIsSharedWithTheApplication()
    {
        QVERIFY(BackupStore::defaultFolder().endsWith(QLatin1String("/velmar-imu/backups")));
    }
};

QTEST_GUILESS_MAIN(TestModuleFile)
#include "tst_modulefile.moc"
