// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulebackups.h"

#include "backendlog.h"

#include "comsprotocol.h"
#include "velmar_version.h"

#include <QVariantMap>

#include <bitset>
#include <cstring>

namespace {
ModuleFileIdentity identityOf(const ModuleBackups::Image &image)
{
    using namespace RegisterMap;
    return {image[DeviceId.address], readU16(&image[HardwareVersion.address]),
        readU16(&image[SoftwareVersion.address])};
}
} // namespace

ModuleBackups::ModuleBackups(
    ImageSource image, FrameSender send, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_image(std::move(image))
    , m_send(std::move(send))
    , m_store(folder)
{ }

QVariantList ModuleBackups::backups() const
{
    if (!m_listed)
        list();
    return m_backups;
}

void ModuleBackups::setLastError(const QString &text)
{
    if (!text.isEmpty())
        qCWarning(lcBackend) << text;
    if (text == m_lastError)
        return;
    m_lastError = text;
    emit lastErrorChanged();
}

bool ModuleBackups::backupBefore(const QString &trigger)
{
    Image image {};
    if (!m_image(&image)) {
        setLastError(tr("No backup %1: the module's settings have not been read.").arg(trigger));
        return false;
    }
    ModuleFile file = ModuleFile::fromImage(image.data(), identityOf(image));
    file.application = QStringLiteral("velmar-imu " VELMAR_VERSION);
    QString error;
    const QString path = m_store.save(file, trigger, &error);
    if (path.isEmpty()) {
        setLastError(tr("No backup %1: %2").arg(trigger, error));
        return false;
    }
    qCInfo(lcBackend) << "backup" << trigger << "saved as" << path;
    setLastError(QString());
    m_listed = false; // listed again when next asked for
    emit backupsChanged();
    return true;
}

void ModuleBackups::refresh()
{
    list();
    emit backupsChanged();
}

void ModuleBackups::list() const
{
    QVariantList list;
    for (const BackupEntry &entry : m_store.list()) {
        list.append(QVariantMap {{QStringLiteral("path"), entry.path},
            {QStringLiteral("savedAt"),
                entry.savedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
            {QStringLiteral("module"), entry.identity.text()},
            {QStringLiteral("trigger"), entry.trigger}});
    }
    m_backups = list;
    m_listed = true;
}

bool ModuleBackups::restore(const QString &path)
{
    const ModuleFileReading reading = readModuleFile(path);
    if (!reading.ok) {
        setLastError(tr("Restore refused: %1").arg(reading.refusal));
        return false;
    }
    Image image {};
    if (!m_image(&image)) {
        setLastError(tr("Restore refused: not connected to a module whose settings were read."));
        return false;
    }
    const QString incompatible = compatibilityRefusal(reading.file, identityOf(image));
    if (!incompatible.isEmpty()) {
        setLastError(tr("Restore refused: %1").arg(incompatible));
        return false;
    }
    std::bitset<registerCount> toWrite;
    for (const RegisterComparison &c : compareWithImage(reading.file, image.data())) {
        if (c.differs)
            toWrite.set(std::size_t(c.row));
    }
    // No backup, no write: what the restore replaces is kept first.
    if (toWrite.any() && !backupBefore(QStringLiteral("before restore"))) {
        setLastError(tr("Restore refused, nothing was written: %1").arg(m_lastError));
        return false;
    }
    for (const RegisterSpan run : writeRuns(toWrite))
        m_send(writeRequest(run.address, reading.file.bytesAt(run.address), run.count));
    // The answer shows on the register page, as after any edit.
    m_send(readRequest(RegisterMap::Writable));
    setLastError(QString());
    return true;
}
