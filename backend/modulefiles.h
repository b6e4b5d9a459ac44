// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "modulefile.h"
#include "registermap.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

#include <array>
#include <bitset>
#include <functional>

// Export and Import on the register page. Both start from a read answered now
// in this connection, never from what the page happened to hold: a file must
// say what the module holds, and the import table must compare against it.
// Import writes only the rows the user chose, then reads them back and marks
// any the module holds differently. GUI thread only; exposed to QML as
// backEnd.moduleFiles.
class ModuleFiles : public QObject
{
    Q_OBJECT
    // Where Export writes and Import looks first; remembered between runs.
    Q_PROPERTY(QString folder READ folder WRITE setFolder NOTIFY folderChanged)
    // True while waiting for the module's answer.
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    // One sentence on what the last Export or Import did, or why it did not.
    Q_PROPERTY(QString status READ status NOTIFY stateChanged)
    Q_PROPERTY(bool failed READ failed NOTIFY stateChanged)
    // The file being imported (empty before one was opened or after a refusal).
    Q_PROPERTY(QString importPath READ importPath NOTIFY stateChanged)
    Q_PROPERTY(QString importModule READ importModule NOTIFY stateChanged)
    // Maps of row, name, group ("accelerometer", ... for a calibration block's
    // registers, else the register's name), fileText, moduleText, differs, and
    // after a write: written, afterText, mismatch.
    Q_PROPERTY(QVariantList importRows READ importRows NOTIFY stateChanged)

public:
    using Image = std::array<quint8, RegisterMap::Size>;
    // The module's register image as this connection last received it; false
    // while there is no connection whose identity has been read.
    using ImageSource = std::function<bool(Image *image)>;
    using FrameSender = std::function<void(const QByteArray &frame)>;

    ModuleFiles(ImageSource image, FrameSender send, QObject *parent = nullptr);
    // Saves and reads back a backup of what the module holds, with the trigger
    // ("before import"): empty when saved, else why not. Import writes nothing
    // without it.
    using Backup = std::function<QString(const QString &trigger)>;
    void setBackup(Backup backup) { m_backup = std::move(backup); }
    // Asks the user for a file: one to save to (`save`) or to open, starting
    // at `suggested`; empty when the user cancelled. Set by the application
    // only (desktopAsker): without it Export names its own file in the folder
    // and chooseImport asks nothing, so that nothing waits on a window.
    using FileAsker = std::function<QString(bool save, const QString &suggested)>;
    void setFileAsker(FileAsker asker) { m_asker = std::move(asker); }
    // The desktop's own file dialogs.
    static FileAsker desktopAsker();

    static QString defaultFolder();

    QString folder() const { return m_folder; }
    void setFolder(const QString &folder);
    bool busy() const { return m_step != Step::Idle; }
    QString status() const { return m_status; }
    bool failed() const { return m_failed; }
    QString importPath() const { return m_importPath; }
    QString importModule() const { return m_file.identity.text(); }
    QVariantList importRows() const { return m_rows; }

    // Reads the module's settings, then saves them in the folder as
    // "velmar-<device>-<date>.json" (or where the user said, when a file asker
    // is set; cancelled, nothing happens). False when not connected or busy.
    Q_INVOKABLE bool exportModule();
    // The same into the file `path`, whose folder becomes the folder.
    Q_INVOKABLE bool exportModuleTo(const QString &path);
    // Asks for a module file with the file asker and opens it as openImport
    // does; false when there is no asker or the user cancelled.
    Q_INVOKABLE bool chooseImport();
    // The module files in the folder, newest first (names only).
    Q_INVOKABLE QStringList filesInFolder() const;
    // Checks the file (a name in the folder or a whole path) and reads the
    // module to compare with. A file that cannot be taken whole is refused
    // with the reason, and nothing is asked of the module.
    Q_INVOKABLE bool openImport(const QString &path);
    // Writes the chosen registers of the open file (a calibration block's name
    // stands for all its registers, and any of its registers for the whole
    // block), then reads them back.
    Q_INVOKABLE bool writeChosen(const QStringList &names);
    Q_INVOKABLE void closeImport();

    // Hook: the link handed the interface an updated register block.
    void blockAnswered(int blockIndex);
    // Hook: a link opened or closed, or the module's settings were written
    // from elsewhere. What the last Export or Import said was about the
    // module as it was: the line goes, unless a run or an import is open.
    void moduleChanged();

signals:
    void folderChanged();
    void stateChanged();
    void exported(const QString &path);

private:
    enum class Step { Idle, Export, Compare, ReadBack };

    void askFresh(Step step);
    void answered();
    void finishExport(const Image &image);
    void finishCompare(const Image &image);
    void finishReadBack(const Image &image);
    void setStatus(const QString &text, bool failed);
    QString suggestedName(const Image &image) const;

    ImageSource m_image;
    FrameSender m_send;
    Backup m_backup;
    FileAsker m_asker;
    // Where the running Export saves; empty: a name of its own in the folder.
    QString m_exportPath;
    QString m_folder;
    Step m_step = Step::Idle;
    // Which of the writable registers' blocks have answered since the read.
    std::bitset<32> m_waiting;
    QTimer m_timeout;
    QString m_status;
    bool m_failed = false;
    QString m_importPath;
    ModuleFile m_file;
    QVariantList m_rows;
    std::bitset<registerCount> m_written;
};
