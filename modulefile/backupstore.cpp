// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupstore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

QString BackupStore::defaultFolder()
{
    // Named here rather than through the running program's name, so that
    // velmar-cli and the application keep their backups in one place.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/velmar-imu/backups");
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

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    out.write(writeModuleFile(file));
    if (!out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
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
