// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "modulefile.h"

#include <QDateTime>
#include <QString>
#include <QVector>

// Module files kept before anything overwrites a module's calibration: one
// JSON file each (the module file format) in one folder, newest listed first.
struct BackupEntry
{
    QString path;
    QDateTime savedAt; // UTC
    ModuleFileIdentity identity;
    QString trigger;
};

// Why the module file at `path` is not `saved`, written as `written`: its
// text, then the identity, the registers given and every byte of them as
// parsed; empty when it reads back the same.
QString readBackRefusal(const QString &path, const ModuleFile &saved, const QByteArray &written);

class BackupStore
{
public:
    // The folder the application and velmar-cli share: the application's data
    // folder ("velmar-imu" under the user's data location) plus "backups".
    static QString defaultFolder();

    explicit BackupStore(const QString &folder = defaultFolder());
    QString folder() const { return m_folder; }

    // Writes `file` with `trigger` as a new backup, reads it back and returns
    // its path; empty with the reason in `error` when it cannot be written or
    // does not read back as `file`. Never replaces an earlier backup.
    QString save(ModuleFile file, const QString &trigger, QString *error = nullptr);

    // Every readable backup, newest first. Files that are not module files are
    // left out (and counted in `skipped`).
    QVector<BackupEntry> list(int *skipped = nullptr) const;

private:
    QString m_folder;
};
