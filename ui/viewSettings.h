// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSettings>
#include <QString>

#include <memory>

class QWindow;

// What the interface remembers between runs, in the application's settings:
// the main window's size, place and maximised state, and the folder charts are
// exported to. The window is read once when it is handed over and written back
// when it is closed or this object goes, so moving it around writes nothing.
class ViewSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        QString exportFolder READ exportFolder WRITE setExportFolder NOTIFY exportFolderChanged)
    // Why the last export folder could not be made; empty after one that could.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    // The application's own settings ("Velmar", "Velmar IMU").
    explicit ViewSettings(QObject *parent = nullptr);
    // Settings in an INI file of their own (tests).
    explicit ViewSettings(const QString &iniFile, QObject *parent = nullptr);
    ~ViewSettings() override;

    // Puts `window` where it was last closed (if that is still on a screen),
    // maximised if it was, and remembers it from now on.
    Q_INVOKABLE void manageWindow(QWindow *window);
    // Writes the managed window's geometry now.
    Q_INVOKABLE void saveWindow();

    // The window's geometry as stored (not maximised), invalid if none.
    Q_INVOKABLE QRect storedWindowGeometry() const;
    Q_INVOKABLE bool storedWindowMaximized() const;
    Q_INVOKABLE void storeWindow(const QRect &geometry, bool maximized);

    // Where a stored geometry may go on the screens there are now (their
    // available areas): as it was if its top strip shows on a screen, else
    // an invalid rectangle (the window manager places the window). Made no
    // larger than that screen, and moved into it.
    static QRect fitToScreens(const QRect &stored, const QList<QRect> &screens);

    QString exportFolder() const;
    void setExportFolder(const QString &folder);
    static QString defaultExportFolder();
    // Asks for a folder with the desktop's dialog; true if one was picked.
    Q_INVOKABLE bool chooseExportFolder();

    // Creates the export folder if need be and returns the start of a new set
    // of file names in it ("<folder>/velmar-20261208-143005"; "-2", "-3" added
    // if files of that second exist), or empty with the reason in lastError.
    Q_INVOKABLE QString newExportBase();

    QString lastError() const { return m_lastError; }

    static QString geometryKey() { return QStringLiteral("window/geometry"); }
    static QString maximizedKey() { return QStringLiteral("window/maximized"); }
    static QString exportFolderKey() { return QStringLiteral("export/folder"); }

signals:
    void exportFolderChanged();
    void lastErrorChanged();

private:
    void noteGeometry();
    void setLastError(const QString &error);

    std::unique_ptr<QSettings> m_settings;
    QPointer<QWindow> m_window;
    // The window's last geometry while neither maximised nor full screen:
    // what a maximised window goes back to.
    QRect m_normalGeometry;
    QString m_lastError;
};
