// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewSettings.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

namespace {

// How much of a window's top edge must show on a screen for it to be put
// back there: enough to grab it by its title and move it.
constexpr int titleStripHeight = 40;
constexpr int titleStripMinWidth = 100;

} // namespace

ViewSettings::ViewSettings(QObject *parent)
    : QObject(parent)
    , m_settings(
          std::make_unique<QSettings>(QStringLiteral("Velmar"), QStringLiteral("Velmar IMU")))
{ }

ViewSettings::ViewSettings(const QString &iniFile, QObject *parent)
    : QObject(parent)
    , m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{ }

ViewSettings::~ViewSettings()
{
    if (m_normalGeometry.isValid())
        saveWindow();
}

QRect ViewSettings::fitToScreens(const QRect &stored, const QList<QRect> &screens)
{
    if (!stored.isValid())
        return QRect();
    const QRect strip(
        stored.x(), stored.y(), stored.width(), qMin(titleStripHeight, stored.height()));
    for (const QRect &screen : screens) {
        const QRect shown = strip.intersected(screen);
        if (shown.isEmpty() || shown.width() < qMin(titleStripMinWidth, stored.width()))
            continue;
        QRect fitted = stored;
        fitted.setSize(stored.size().boundedTo(screen.size()));
        if (fitted.right() > screen.right())
            fitted.moveRight(screen.right());
        if (fitted.left() < screen.left())
            fitted.moveLeft(screen.left());
        if (fitted.bottom() > screen.bottom())
            fitted.moveBottom(screen.bottom());
        if (fitted.top() < screen.top())
            fitted.moveTop(screen.top());
        return fitted;
    }
    return QRect();
}

void ViewSettings::manageWindow(QWindow *window)
{
    if (!window || window == m_window)
        return;
    if (m_window)
        disconnect(m_window, nullptr, this, nullptr);
    m_window = window;

    QList<QRect> screens;
    const QList<QScreen *> all = QGuiApplication::screens();
    for (const QScreen *screen : all)
        screens << screen->availableGeometry();
    const QRect fitted = fitToScreens(storedWindowGeometry(), screens);
    if (fitted.isValid())
        window->setGeometry(fitted);
    m_normalGeometry = window->geometry();
    if (storedWindowMaximized())
        window->setWindowStates(window->windowStates() | Qt::WindowMaximized);

    connect(window, &QWindow::xChanged, this, &ViewSettings::noteGeometry);
    connect(window, &QWindow::yChanged, this, &ViewSettings::noteGeometry);
    connect(window, &QWindow::widthChanged, this, &ViewSettings::noteGeometry);
    connect(window, &QWindow::heightChanged, this, &ViewSettings::noteGeometry);
    // Closing the window hides it: the moment to write, before it is gone.
    connect(window, &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            saveWindow();
    });
}

void ViewSettings::noteGeometry()
{
    if (!m_window)
        return;
    // A maximised, full-screen or minimised window's geometry is not the
    // one to come back to.
    if (m_window->windowStates()
        & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    m_normalGeometry = m_window->geometry();
}

void ViewSettings::saveWindow()
{
    // A resize the platform has not confirmed yet counts too.
    noteGeometry();
    bool maximized = storedWindowMaximized();
    if (m_window) {
        const Qt::WindowStates states = m_window->windowStates();
        // Minimised, it keeps what it was before.
        if (!(states & Qt::WindowMinimized))
            maximized = states & (Qt::WindowMaximized | Qt::WindowFullScreen);
    }
    if (m_normalGeometry.isValid())
        storeWindow(m_normalGeometry, maximized);
}

QRect ViewSettings::storedWindowGeometry() const
{
    return m_settings->value(geometryKey()).toRect();
}

bool ViewSettings::storedWindowMaximized() const
{
    return m_settings->value(maximizedKey(), false).toBool();
}

void ViewSettings::storeWindow(const QRect &geometry, bool maximized)
{
    m_settings->setValue(geometryKey(), geometry);
    m_settings->setValue(maximizedKey(), maximized);
}

QString ViewSettings::defaultExportFolder()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    return QDir(documents).filePath(QStringLiteral("Velmar IMU"));
}

QString ViewSettings::exportFolder() const
{
    const QString folder = m_settings->value(exportFolderKey()).toString();
    return folder.isEmpty() ? defaultExportFolder() : folder;
}

void ViewSettings::setExportFolder(const QString &folder)
{
    const QString cleaned = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
    if (cleaned == m_settings->value(exportFolderKey()).toString())
        return;
    m_settings->setValue(exportFolderKey(), cleaned);
    emit exportFolderChanged();
}

bool ViewSettings::chooseExportFolder()
{
    // The dialog is a widget: only where the application has widgets.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const QString folder = QFileDialog::getExistingDirectory(
        nullptr, tr("Folder for exported charts"), exportFolder());
    if (folder.isEmpty())
        return false;
    setExportFolder(folder);
    return true;
}

QString ViewSettings::newExportBase()
{
    const QString folder = exportFolder();
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        setLastError(tr("Cannot create the folder %1").arg(folder));
        return QString();
    }
    setLastError(QString());
    const QString stamp = QStringLiteral("velmar-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = stamp;
    // Exports within the same second must not overwrite each other.
    for (int n = 2;
         !dir.entryList({name + QStringLiteral("-*"), name + QStringLiteral(".*")}, QDir::Files)
              .isEmpty();
         ++n)
        name = stamp + QLatin1Char('-') + QString::number(n);
    return dir.filePath(name);
}

void ViewSettings::setLastError(const QString &error)
{
    if (error == m_lastError)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}
