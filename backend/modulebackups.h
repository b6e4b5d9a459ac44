// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backupstore.h"
#include "registermap.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <array>
#include <functional>

// The application's backups of a module's settings: taken before anything
// overwrites a calibration (a calibration run, Reset Defaults), listed for the
// interface, and written back on Restore. Lives on the GUI thread; exposed to
// QML as backEnd.moduleBackups.
class ModuleBackups : public QObject
{
    Q_OBJECT
    // Maps of path, savedAt (local time as text), module and trigger, newest first.
    Q_PROPERTY(QVariantList backups READ backups NOTIFY backupsChanged)
    Q_PROPERTY(QString folder READ folder CONSTANT)
    // What the last backup or restore could not do; empty after one that worked.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    using Image = std::array<quint8, RegisterMap::Size>;
    // What the module answered last in this connection; false while there is no
    // connection whose identity and settings have been read.
    using ImageSource = std::function<bool(Image *image)>;
    using FrameSender = std::function<void(const QByteArray &frame)>;

    ModuleBackups(ImageSource image, FrameSender send,
        const QString &folder = BackupStore::defaultFolder(), QObject *parent = nullptr);

    // Listed when first asked for (the Backups dialog), not at start-up: the
    // folder may hold hundreds of files, each read whole to be listed.
    QVariantList backups() const;
    QString folder() const { return m_store.folder(); }
    QString lastError() const { return m_lastError; }

    // Saves the module's settings as they were last answered, with `trigger`
    // ("before Reset Defaults"). False, with lastError, when there is nothing
    // known to save or the file cannot be written.
    bool backupBefore(const QString &trigger);

    Q_INVOKABLE void refresh();
    // Writes the backup's registers that differ from what the module last
    // answered, in runs of neighbours, then reads the settings back (the
    // register page shows what the module now holds). Refuses, writing
    // nothing, a file that is not a whole valid module file or is for another
    // hardware version, and any restore while not connected.
    Q_INVOKABLE bool restore(const QString &path);

signals:
    void backupsChanged();
    void lastErrorChanged();

private:
    void setLastError(const QString &text);
    void list() const;

    ImageSource m_image;
    FrameSender m_send;
    BackupStore m_store;
    mutable QVariantList m_backups;
    mutable bool m_listed = false;
    QString m_lastError;
};
