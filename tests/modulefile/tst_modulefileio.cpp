// SPDX-License-Identifier: GPL-3.0-or-later
// Module files and backups as files on disk: every value a module can hold
// comes back exactly, an ambiguous file is refused, a backup exists only once
// it reads back, and nothing but a file is read.
#include "backupstore.h"
#include "modulefile.h"

#include "../files/fullDisk.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

#include <sys/stat.h>

namespace {

const ModuleFileIdentity identity {0x5A, 1442, 210};

using Image = std::array<quint8, RegisterMap::Size>;

Image identityImage()
{
    Image image {};
    image[0] = 0x5A;
    writeU16(&image[2], 1442);
    writeU16(&image[4], 210);
    return image;
}

// A writable block the module can hold: any bytes, any 16-bit words, and any
// finite 32-bit float (subnormals, -0 and the extremes included).
Image randomImage(QRandomGenerator &random)
{
    Image image = identityImage();
    for (int row = 27; row < registerCount; ++row) {
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        quint8 *at = &image[info.address];
        if (info.width == RegisterWidth::F32) {
            float value;
            do {
                const quint32 bits = random.generate();
                std::memcpy(&value, &bits, 4);
                // One in four a subnormal, to make sure they are many.
                if (random.bounded(4) == 0) {
                    const quint32 tiny = (bits & 0x807FFFFFu);
                    std::memcpy(&value, &tiny, 4);
                }
            } while (!std::isfinite(value));
            writeF32(at, value);
        } else {
            for (int i = 0; i < byteWidth(info.width); ++i)
                at[i] = quint8(random.bounded(256));
        }
    }
    return image;
}

QString firstDifference(const ModuleFile &read, const Image &image)
{
    for (int row = 27; row < registerCount; ++row) {
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        if (!read.has(row))
            return QStringLiteral("\"%1\" missing").arg(QLatin1String(info.name));
        if (std::memcmp(read.bytesOf(row), &image[info.address], std::size_t(byteWidth(info.width)))
            != 0)
            return QStringLiteral("\"%1\" differs: %2 read back as %3")
                .arg(QLatin1String(info.name), registerValueText(row, &image[info.address]),
                    registerValueText(row, read.bytesOf(row)));
    }
    return QString();
}

QByteArray fileText(const Image &image)
{
    ModuleFile file = ModuleFile::fromImage(image.data(), identity);
    file.savedAt = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    file.trigger = QStringLiteral("export");
    return writeModuleFile(file);
}

} // namespace

class TestModuleFileIo : public QObject
{
    Q_OBJECT

private slots:
    void subnormalRealsAreSavedAndReadBackExactly_data()
    {
        QTest::addColumn<float>("value");
        QTest::newRow("1e-40") << 1e-40f;
        QTest::newRow("-1e-40") << -1e-40f;
        QTest::newRow("smallest") << std::numeric_limits<float>::denorm_min();
        QTest::newRow("largest subnormal")
            << std::nextafter(std::numeric_limits<float>::min(), 0.0f);
        QTest::newRow("negative zero") << -0.0f;
        QTest::newRow("largest") << std::numeric_limits<float>::max();
    }
    void subnormalRealsAreSavedAndReadBackExactly()
    {
        QFETCH(float, value);
        Image image = identityImage();
        const int offsetX = 127; // "MAG  Offset X"
        writeF32(&image[offsetX], value);
        QTemporaryDir dir;
        BackupStore store(dir.path());
        QString error;
        const QString path = store.save(
            ModuleFile::fromImage(image.data(), identity), QStringLiteral("test"), &error);
        QVERIFY2(!path.isEmpty(), qPrintable(error));
        const ModuleFileReading reading = readModuleFile(path);
        QVERIFY2(reading.ok, qPrintable(reading.refusal));
        QCOMPARE(firstDifference(reading.file, image), QString());
        // And listed, so that it can be restored.
        QCOMPARE(store.list().size(), 1);
    }

    void exportImportRoundTripIsLosslessForRandomImages()
    {
        QRandomGenerator random(20261208);
        for (int n = 0; n < 400; ++n) {
            const Image image = randomImage(random);
            const ModuleFileReading reading = readModuleFile(fileText(image));
            QVERIFY2(
                reading.ok, qPrintable(QStringLiteral("image %1: %2").arg(n).arg(reading.refusal)));
            const QString difference = firstDifference(reading.file, image);
            QVERIFY2(difference.isEmpty(),
                qPrintable(QStringLiteral("image %1: %2").arg(n).arg(difference)));
        }
    }

    void duplicateKeysAtAnyLevelAreRefused_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("key");
        QTest::newRow("second module") << QByteArray("\"module\": {")
                                       << QByteArray("\"module\": {\"deviceId\": 90, "
                                                     "\"hardwareVersion\": 2542, "
                                                     "\"softwareVersion\": 1},\n    \"module\": {")
                                       << "module";
        QTest::newRow("inside module")
            << QByteArray("\"deviceId\": 90") << QByteArray("\"deviceId\": 91, \"deviceId\": 90")
            << "deviceId";
        QTest::newRow("a register twice")
            << QByteArray("\"Control2\":") << QByteArray("\"Control2\": \"0x00\", \"Control2\":")
            << "Control2";
        QTest::newRow("spelt with an escape")
            << QByteArray("\"Control2\":")
            << QByteArray("\"Control\\u0032\": \"0x00\", \"Control2\":") << "Control2";
        QTest::newRow("inside a calibration block")
            << QByteArray("\"offset\":") << QByteArray("\"offset\": [0, 0, 0], \"offset\":")
            << "offset";
    }
    void duplicateKeysAtAnyLevelAreRefused()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, key);
        QByteArray text = fileText(identityImage());
        QVERIFY2(text.contains(from), text.constData());
        QVERIFY(readModuleFile(text).ok);
        text.replace(text.indexOf(from), from.size(), to);
        const ModuleFileReading reading = readModuleFile(text);
        QVERIFY2(!reading.ok, text.constData());
        QVERIFY2(reading.refusal.contains(QStringLiteral("\"%1\" is given twice").arg(key)),
            qPrintable(reading.refusal));
        // The same key in two different objects is no duplicate.
        QVERIFY(readModuleFile(QByteArray(fileText(identityImage()))).ok);
    }

    void onlyFilesAreReadAsModuleFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo"
                              << "is a FIFO";
        QTest::newRow("link to /dev/zero") << "zero"
                                           << "is a device";
        QTest::newRow("too large") << "large"
                                   << "larger than";
    }
    void onlyFilesAreReadAsModuleFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("backup.json"));
        if (kind == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == QLatin1String("zero")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(fileText(identityImage()));
            file.write(QByteArray(2 << 20, ' '));
        }
        const ModuleFileReading reading = readModuleFile(path);
        QVERIFY(!reading.ok);
        QVERIFY2(reading.refusal.contains(reason), qPrintable(reading.refusal));
        // A backup folder holding it lists the rest and skips it.
        int skipped = 0;
        QVERIFY(BackupStore(dir.path()).list(&skipped).isEmpty());
        // Not even opened, when not a file: a FIFO is not listed at all.
        QCOMPARE(skipped, kind == QLatin1String("fifo") ? 0 : 1);
    }

    void aBackupThatCannotBeSavedLeavesNoFileAndSaysWhy_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("full disk") << true;
        QTest::newRow("a file where the folder should be") << false;
    }
    void aBackupThatCannotBeSavedLeavesNoFileAndSaysWhy()
    {
        QFETCH(bool, fullDisk);
        QTemporaryDir dir;
        QString folder = dir.filePath(QStringLiteral("backups"));
        if (!fullDisk) {
            QFile blocker(dir.filePath(QStringLiteral("blocker")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            folder = dir.filePath(QStringLiteral("blocker/backups"));
        }
        const Image image = identityImage();
        const QString outcome = underFileSizeLimit(fullDisk ? 1000 : RLIM_INFINITY, [&] {
            QString error;
            const QString path
                = BackupStore(folder).save(ModuleFile::fromImage(image.data(), identity),
                    QStringLiteral("before test"), &error);
            return path.isEmpty() ? QStringLiteral("refused: ") + error
                                  : QStringLiteral("saved ") + path;
        });
        QVERIFY2(outcome.startsWith(QLatin1String("refused: ")), qPrintable(outcome));
        if (fullDisk)
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void aBackupThatReadsBackOtherwiseIsRefused()
    {
        QTemporaryDir dir;
        const Image image = identityImage();
        ModuleFile file = ModuleFile::fromImage(image.data(), identity);
        const QByteArray text = writeModuleFile(file);
        const QString path = dir.filePath(QStringLiteral("b.json"));
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            QByteArray other = text;
            other.replace("\"Control2\": \"0x00\"", "\"Control2\": \"0x01\"");
            QVERIFY(other != text);
            out.write(other);
        }
        QVERIFY2(readBackRefusal(path, file, text).contains(QLatin1String("other text")),
            qPrintable(readBackRefusal(path, file, text)));
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(text);
        }
        QCOMPARE(readBackRefusal(path, file, text), QString());
    }
};

QTEST_GUILESS_MAIN(TestModuleFileIo)
#include "tst_modulefileio.moc"
