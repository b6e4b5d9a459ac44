// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backupstore.h"
#include "registermap.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <array>
#include <bitset>
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
    // True from a restore's writes until the module's answer to the read after them.
    Q_PROPERTY(bool restoring READ restoring NOTIFY restoreStateChanged)
    // What the last restore came to once the module answered ("Restored: ...");
    // empty before, while it runs, and once the link came or went.
    Q_PROPERTY(QString restoreStatus READ restoreStatus NOTIFY restoreStateChanged)

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
    bool restoring() const { return m_restoring.any(); }
    QString restoreStatus() const { return m_restoreStatus; }

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
    // What a restore of `path` would write now: maps of name, fileText (the
    // backup's value) and moduleText (the module's, as last answered), one per
    // register that differs, in address order. Empty, with lastError, when the
    // restore would be refused; empty without when nothing differs.
    Q_INVOKABLE QVariantList differences(const QString &path);

    // Hook: the link handed the interface an updated register block.
    void blockAnswered(int blockIndex);
    // Hook: a link opened or closed; a restore's line was about the module before.
    void linkChanged();

signals:
    void backupsChanged();
    void lastErrorChanged();
    void restoreStateChanged();

private:
    void setLastError(const QString &text);
    // The backup, refused with lastError when it cannot be restored now.
    bool restorable(const QString &path, ModuleFile *file, Image *image);
    void finishRestore();
    void list() const;

    ImageSource m_image;
    FrameSender m_send;
    BackupStore m_store;
    mutable QVariantList m_backups;
    mutable bool m_listed = false;
    QString m_lastError;
    // The blocks the read after a restore's writes still waits for.
    std::bitset<32> m_restoring;
    ModuleFile m_restored;
    std::bitset<registerCount> m_restoredRows;
    QString m_restoreStatus;
    QTimer m_restoreTimeout;
};
