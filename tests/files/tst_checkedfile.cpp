// SPDX-License-Identifier: GPL-3.0-or-later
// Saves that happen whole or not at all (the old file kept), targets that are
// not files refused, and loads that never hang on or swallow a device.
#include "checkedfile.h"
#include "fullDisk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {
QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// A special file of the kind named, made in `dir`; its path.
QString makeSpecial(const QTemporaryDir &dir, const QString &kind)
{
    const QString path = dir.filePath(kind);
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0600) == 0 ? path : QString();
    if (kind == QLatin1String("folder"))
        return QDir().mkpath(path) ? path : QString();
    if (kind == QLatin1String("socket")) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (std::size_t(name.size()) >= sizeof address.sun_path)
            return QString();
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        return bound ? path : QString();
    }
    if (kind == QLatin1String("device link"))
        return QFile::link(QStringLiteral("/dev/zero"), path) ? path : QString();
    if (kind == QLatin1String("under a file")) {
        // A file standing where the folder should be.
        return writeFile(dir.filePath(QStringLiteral("plain")), "x")
            ? dir.filePath(QStringLiteral("plain/inside.json"))
            : QString();
    }
    return QString();
}
} // namespace

class TestCheckedFile : public QObject
{
    Q_OBJECT

private slots:
    void saveReplacesTheFileWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.json"));
        QVERIFY(writeFile(path, "old"));
        const QString error = CheckedFile::save(path, "new content");
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(contentOf(path), QByteArray("new content"));
        // Nothing left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"out.json"});
    }

    void aFullDiskKeepsTheOldFileAndSaysWhy_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("over an earlier file") << true;
        QTest::newRow("a new file") << false;
    }
    void aFullDiskKeepsTheOldFileAndSaysWhy()
    {
        QFETCH(bool, existing);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.csv"));
        if (existing)
            QVERIFY(writeFile(path, "the good file"));
        const QByteArray big(64 * 1024, 'x');
        const QString error
            = underFileSizeLimit(1000, [&] { return CheckedFile::save(path, big); });
        QVERIFY2(error.contains(QLatin1String("cannot write")), qPrintable(error));
        QVERIFY2(error.contains(QLatin1String("out.csv")), qPrintable(error));
        if (existing)
            QCOMPARE(contentOf(path), QByteArray("the good file"));
        else
            QVERIFY(!QFile::exists(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), existing ? 1 : 0);
    }

    void targetsThatAreNotFilesAreRefusedAndLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo"
                              << "is a FIFO";
        QTest::newRow("socket") << "socket"
                                << "is a socket";
        QTest::newRow("folder") << "folder"
                                << "is a folder";
        QTest::newRow("link to a device") << "device link"
                                          << "is a device";
        QTest::newRow("file where the folder should be") << "under a file"
                                                         << "is not a folder";
    }
    void targetsThatAreNotFilesAreRefusedAndLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = makeSpecial(dir, kind);
        QVERIFY2(!path.isEmpty(), qPrintable(kind));
        struct stat before
        {
        };
        const bool existed = ::lstat(QFile::encodeName(path).constData(), &before) == 0;
        const QString refusal = CheckedFile::targetRefusal(path);
        QVERIFY2(refusal.contains(reason), qPrintable(refusal));
        const QString error = CheckedFile::save(path, "data");
        QCOMPARE(error, refusal);
        QCOMPARE(CheckedFile::probe(path), refusal);
        CheckedFile::Stream stream;
        QVERIFY(!stream.create(path));
        QCOMPARE(stream.error(), refusal);
        // What stood there is what stands there.
        struct stat after
        {
        };
        if (existed) {
            QVERIFY(::lstat(QFile::encodeName(path).constData(), &after) == 0);
            QCOMPARE(after.st_mode, before.st_mode);
            QCOMPARE(after.st_ino, before.st_ino);
        }
    }

    void loadsOnlyFilesWithinTheLimit_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO does not freeze") << "fifo"
                                              << "is a FIFO";
        QTest::newRow("link to /dev/zero") << "device link"
                                           << "is a device";
        QTest::newRow("folder") << "folder"
                                << "is a folder";
        QTest::newRow("too large") << "large"
                                   << "larger than 100 bytes";
        QTest::newRow("missing") << "missing"
                                 << "cannot read";
    }
    void loadsOnlyFilesWithinTheLimit()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = dir.filePath(kind);
        if (kind == QLatin1String("large"))
            QVERIFY(writeFile(path, QByteArray(101, 'x')));
        else if (kind != QLatin1String("missing"))
            path = makeSpecial(dir, kind);
        const CheckedFile::Loading loading = CheckedFile::load(path, 100);
        QVERIFY2(loading.error.contains(reason), qPrintable(loading.error));
        QVERIFY(loading.data.isEmpty());

        const QString fine = dir.filePath(QStringLiteral("fine"));
        QVERIFY(writeFile(fine, QByteArray(100, 'y')));
        const CheckedFile::Loading whole = CheckedFile::load(fine, 100);
        QVERIFY2(whole.ok(), qPrintable(whole.error));
        QCOMPARE(whole.data, QByteArray(100, 'y'));
    }

    void aStreamReportsTheFirstFailedWrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stream.csv"));
        const QString outcome = underFileSizeLimit(1000, [&] {
            CheckedFile::Stream stream;
            if (!stream.create(path))
                return QStringLiteral("not created: ") + stream.error();
            const QByteArray row(300, 'r');
            int rows = 0;
            while (rows < 10 && stream.write(row))
                ++rows;
            const bool closed = stream.close();
            return QStringLiteral("%1 rows, closed %2, %3")
                .arg(rows)
                .arg(closed)
                .arg(stream.error());
        });
        QVERIFY2(outcome.startsWith(QLatin1String("3 rows, closed 0, cannot write")),
            qPrintable(outcome));
        QVERIFY2(outcome.contains(QLatin1String("stream.csv")), qPrintable(outcome));

        // Never over an existing file.
        CheckedFile::Stream again;
        QVERIFY(!again.create(path));
        QVERIFY2(again.error().contains(QLatin1String("cannot create")), qPrintable(again.error()));
    }

    void probeFindsAFullDiskBeforeTheWork()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("later.csv"));
        QVERIFY(CheckedFile::probe(path).isEmpty());
        const QString full = underFileSizeLimit(0, [&] { return CheckedFile::probe(path); });
        QVERIFY2(full.contains(QLatin1String("cannot write")), qPrintable(full));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCheckedFile)
#include "tst_checkedfile.moc"
