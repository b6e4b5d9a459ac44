// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulebackups.h"

#include "backendlog.h"

#include "comsprotocol.h"
#include "registerblocks.h"
#include "velmar_version.h"

#include <QVariantMap>

#include <bitset>
#include <cstring>

namespace {
// A module answers a read within a few frames.
constexpr int answerTimeoutMs = 3000;

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
{
    m_restoreTimeout.setSingleShot(true);
    m_restoreTimeout.setInterval(answerTimeoutMs);
    connect(&m_restoreTimeout, &QTimer::timeout, this, [this] {
        m_restoring.reset();
        m_restoreStatus = tr("Restore written, but the module did not answer the read after it: "
                             "read the registers to see what it holds.");
        qCWarning(lcBackend) << m_restoreStatus;
        emit restoreStateChanged();
    });
}

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

bool ModuleBackups::restorable(const QString &path, ModuleFile *file, Image *image)
{
    const ModuleFileReading reading = readModuleFile(path);
    if (!reading.ok) {
        setLastError(tr("Restore refused: %1").arg(reading.refusal));
        return false;
    }
    if (!m_image(image)) {
        setLastError(tr("Restore refused: not connected to a module whose settings were read."));
        return false;
    }
    const QString incompatible = compatibilityRefusal(reading.file, identityOf(*image));
    if (!incompatible.isEmpty()) {
        setLastError(tr("Restore refused: %1").arg(incompatible));
        return false;
    }
    *file = reading.file;
    return true;
}

QVariantList ModuleBackups::differences(const QString &path)
{
    QVariantList rows;
    ModuleFile file;
    Image image {};
    if (!restorable(path, &file, &image))
        return rows;
    setLastError(QString());
    for (const RegisterComparison &c : compareWithImage(file, image.data())) {
        if (c.differs)
            rows.append(QVariantMap {{QStringLiteral("name"), c.name},
                {QStringLiteral("fileText"), c.fileText},
                {QStringLiteral("moduleText"), c.moduleText}});
    }
    return rows;
}

bool ModuleBackups::restore(const QString &path)
{
    ModuleFile file;
    Image image {};
    if (restoring() || !restorable(path, &file, &image))
        return false;
    std::bitset<registerCount> toWrite;
    for (const RegisterComparison &c : compareWithImage(file, image.data())) {
        if (c.differs)
            toWrite.set(std::size_t(c.row));
    }
    // No backup, no write: what the restore replaces is kept first.
    if (toWrite.any() && !backupBefore(QStringLiteral("before restore"))) {
        setLastError(tr("Restore refused, nothing was written: %1").arg(m_lastError));
        return false;
    }
    for (const RegisterSpan run : writeRuns(toWrite))
        m_send(writeRequest(run.address, file.bytesAt(run.address), run.count));
    // The answer shows on the register page, as after any edit, and says
    // whether the module took what was written.
    m_restored = file;
    m_restoredRows = toWrite;
    m_restoreStatus.clear();
    for (std::size_t i = 0; i < registerBlocks.size(); ++i) {
        if (registerBlocks[i].start >= RegisterMap::Writable.address)
            m_restoring.set(i);
    }
    m_send(readRequest(RegisterMap::Writable));
    m_restoreTimeout.start();
    setLastError(QString());
    emit restoreStateChanged();
    return true;
}

void ModuleBackups::blockAnswered(int blockIndex)
{
    if (!restoring() || blockIndex < 0 || blockIndex >= int(m_restoring.size()))
        return;
    m_restoring.reset(std::size_t(blockIndex));
    if (m_restoring.none())
        finishRestore();
}

void ModuleBackups::finishRestore()
{
    m_restoreTimeout.stop();
    Image image {};
    if (!m_image(&image)) {
        m_restoreStatus = tr("The connection closed before the module answered the restore.");
        emit restoreStateChanged();
        return;
    }
    int differing = 0;
    for (const RegisterComparison &c : compareWithImage(m_restored, image.data()))
        differing += c.differs ? 1 : 0;
    const int written = int(m_restoredRows.count());
    if (differing > 0)
        m_restoreStatus = tr("Restored, but the module holds %n register(s) differently from the "
                             "backup.",
            nullptr, differing);
    else if (written == 0)
        m_restoreStatus = tr("Restored: the module already held what the backup holds; nothing "
                             "was written.");
    else
        m_restoreStatus = tr("Restored: %n register(s) written, and the module holds them as in "
                             "the backup.",
            nullptr, written);
    qCInfo(lcBackend) << m_restoreStatus;
    emit restoreStateChanged();
}

void ModuleBackups::linkChanged()
{
    if (m_restoreStatus.isEmpty() && !restoring())
        return;
    m_restoreTimeout.stop();
    m_restoring.reset();
    m_restoreStatus.clear();
    emit restoreStateChanged();
}
