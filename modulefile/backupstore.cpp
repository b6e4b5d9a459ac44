// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupstore.h"

#include "checkedfile.h"
#include "modulefileparts.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <cstring>

QString BackupStore::defaultFolder()
{
    // Named here rather than through the running program's name, so that
    // velmar-cli and the application keep their backups in one place.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/velmar-imu/backups");
}

QString readBackRefusal(const QString &path, const ModuleFile &saved, const QByteArray &written)
{
    const CheckedFile::Loading loading = CheckedFile::load(path, qint64(written.size()) + 1);
    if (!loading.ok())
        return QStringLiteral("the backup does not read back: %1").arg(loading.error);
    if (loading.data != written)
        return QStringLiteral("the backup %1 reads back with other text than was written")
            .arg(path);
    // A module holding a real that is not finite gives a file the reader
    // refuses by design (such a value is never written to a module); for it
    // the text read back stands in for the parse.
    bool finite = true;
    for (int row = ModuleFileParts::firstWritableRow; row < registerCount; ++row) {
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        if (saved.has(row) && info.width == RegisterWidth::F32)
            finite = finite && std::isfinite(saved.realOf(row));
    }
    if (!finite)
        return QString();
    const ModuleFileReading reading = readModuleFile(loading.data);
    if (!reading.ok)
        return QStringLiteral("the backup %1 does not read back: %2").arg(path, reading.refusal);
    const ModuleFile &read = reading.file;
    if (read.identity.deviceId != saved.identity.deviceId
        || read.identity.hardwareVersion != saved.identity.hardwareVersion
        || read.identity.softwareVersion != saved.identity.softwareVersion)
        return QStringLiteral("the backup %1 reads back with another module identity").arg(path);
    if (read.present != saved.present)
        return QStringLiteral("the backup %1 reads back with other registers").arg(path);
    for (int row = 0; row < registerCount; ++row) {
        if (!saved.has(row))
            continue;
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        if (std::memcmp(read.bytesOf(row), saved.bytesOf(row), std::size_t(byteWidth(info.width)))
            != 0)
            return QStringLiteral("the backup %1 reads back with another value of \"%2\"")
                .arg(path, QLatin1String(info.name));
    }
    return QString();
}

BackupStore::BackupStore(const QString &folder)
    : m_folder(folder)
{ }

QString BackupStore::save(ModuleFile file, const QString &trigger, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return QString();
    };
    if (!QDir().mkpath(m_folder))
        return fail(QStringLiteral("cannot create the backup folder %1").arg(m_folder));
    file.trigger = trigger;
    if (!file.savedAt.isValid())
        file.savedAt = QDateTime::currentDateTimeUtc();
    static const QRegularExpression unsafe(QStringLiteral("[^a-z0-9]+"));
    const QString slug = trigger.toLower().replace(unsafe, QStringLiteral("-")).left(40);
    const QString stem
        = QStringLiteral("%1_hw%2_%3")
              .arg(file.savedAt.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
              .arg(file.identity.hardwareVersion)
              .arg(slug);
    // Two backups within the same millisecond (a script, a test) each keep a file.
    QString path = QDir(m_folder).filePath(stem + QStringLiteral(".json"));
    for (int n = 2; QFile::exists(path); ++n)
        path = QDir(m_folder).filePath(QStringLiteral("%1-%2.json").arg(stem).arg(n));

    const QByteArray text = writeModuleFile(file);
    const QString saveError = CheckedFile::save(path, text);
    if (!saveError.isEmpty())
        return fail(saveError);
    // A backup counts only once it reads back as what it was made from.
    const QString mismatch = readBackRefusal(path, file, text);
    if (!mismatch.isEmpty())
        return fail(mismatch);
    return path;
}

QVector<BackupEntry> BackupStore::list(int *skipped) const
{
    QVector<BackupEntry> entries;
    int notTaken = 0;
    const QDir dir(m_folder);
    const QStringList names
        = dir.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        const ModuleFileReading reading = readModuleFile(path);
        if (!reading.ok) {
            ++notTaken;
            continue;
        }
        entries.append({path, reading.file.savedAt, reading.file.identity, reading.file.trigger});
    }
    std::stable_sort(
        entries.begin(), entries.end(), [](const BackupEntry &a, const BackupEntry &b) {
            return a.savedAt != b.savedAt ? a.savedAt > b.savedAt : a.path > b.path;
        });
    if (skipped)
        *skipped = notTaken;
    return entries;
}
