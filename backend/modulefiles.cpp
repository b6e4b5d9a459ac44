// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulefiles.h"

#include "backendlog.h"

#include "appsettings.h"
#include "checkedfile.h"

#include "comsprotocol.h"
#include "registerblocks.h"
#include "velmar_version.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QVariantMap>

#include <cstring>

namespace {
constexpr const char *folderKey = "moduleFiles/folder";
// A module answers a read within a few frames; a silent one must not leave
// the page waiting for ever.
constexpr int answerTimeoutMs = 3000;

ModuleFileIdentity identityOf(const ModuleFiles::Image &image)
{
    using namespace RegisterMap;
    return {image[DeviceId.address], readU16(&image[HardwareVersion.address]),
        readU16(&image[SoftwareVersion.address])};
}

// The blocks a read of the writable stretch updates.
std::bitset<32> writableBlocks()
{
    std::bitset<32> blocks;
    for (std::size_t i = 0; i < registerBlocks.size(); ++i) {
        if (registerBlocks[i].start >= RegisterMap::Writable.address)
            blocks.set(i);
    }
    return blocks;
}

// The calibration block a row belongs to, or the row's own name.
QString groupOf(int row)
{
    for (CalibrationBlock block : {CalibrationBlock::Accelerometer, CalibrationBlock::Gyroscope,
             CalibrationBlock::Magnetometer}) {
        const QString name = QLatin1String(calibrationBlockName(block));
        if (rowsNamed(name).contains(row))
            return name;
    }
    return QLatin1String(registerCatalogue[std::size_t(row)].name);
}
} // namespace

ModuleFiles::ModuleFiles(ImageSource image, FrameSender send, QObject *parent)
    : QObject(parent)
    , m_image(std::move(image))
    , m_send(std::move(send))
    , m_folder(AppSettings::open()->value(QLatin1String(folderKey), defaultFolder()).toString())
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(answerTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_step = Step::Idle;
        setStatus(tr("The module did not answer the read: nothing was saved or written."), true);
    });
}

QString ModuleFiles::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        + QStringLiteral("/Velmar IMU");
}

void ModuleFiles::setFolder(const QString &folder)
{
    const QString cleaned = QDir::cleanPath(folder.trimmed());
    if (cleaned.isEmpty() || cleaned == m_folder)
        return;
    m_folder = cleaned;
    AppSettings::open()->setValue(QLatin1String(folderKey), m_folder);
    emit folderChanged();
}

void ModuleFiles::setStatus(const QString &text, bool failed)
{
    if (failed)
        qCWarning(lcBackend) << text;
    m_status = text;
    m_failed = failed;
    emit stateChanged();
}

void ModuleFiles::askFresh(Step step)
{
    m_step = step;
    m_waiting = writableBlocks();
    m_send(readRequest(RegisterMap::Writable));
    m_timeout.start();
    emit stateChanged();
}

void ModuleFiles::blockAnswered(int blockIndex)
{
    if (m_step == Step::Idle || blockIndex < 0 || blockIndex >= int(m_waiting.size()))
        return;
    m_waiting.reset(std::size_t(blockIndex));
    if (m_waiting.none())
        answered();
}

void ModuleFiles::answered()
{
    m_timeout.stop();
    const Step step = m_step;
    m_step = Step::Idle;
    Image image {};
    if (!m_image(&image)) {
        setStatus(tr("The connection closed before the module answered."), true);
        return;
    }
    switch (step) {
    case Step::Export:
        finishExport(image);
        break;
    case Step::Compare:
        finishCompare(image);
        break;
    case Step::ReadBack:
        finishReadBack(image);
        break;
    case Step::Idle:
        break;
    }
}

ModuleFiles::FileAsker ModuleFiles::desktopAsker()
{
    return [](bool save, const QString &suggested) {
        // The dialogs are widgets: only where the application has widgets.
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return QString();
        const QString filter = tr("Module files (*.json);;All files (*)");
        return save
            ? QFileDialog::getSaveFileName(
                nullptr, tr("Export the module's settings"), suggested, filter)
            : QFileDialog::getOpenFileName(nullptr, tr("Import a module file"), suggested, filter);
    };
}

QString ModuleFiles::suggestedName(const Image &image) const
{
    const ModuleFileIdentity identity = identityOf(image);
    return QStringLiteral("velmar-0x%1-hw%2-%3.json")
        .arg(identity.deviceId, 2, 16, QLatin1Char('0'))
        .arg(identity.hardwareVersion)
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")));
}

bool ModuleFiles::exportModule()
{
    Image image {};
    if (busy())
        return false;
    if (!m_image(&image)) {
        setStatus(tr("Export needs a connected module."), true);
        return false;
    }
    if (!m_asker) {
        m_exportPath.clear();
        askFresh(Step::Export);
        return true;
    }
    // The dialog opens in the folder only if it is there: made now, as Export would.
    QDir().mkpath(m_folder);
    const QString chosen = m_asker(true, QDir(m_folder).filePath(suggestedName(image)));
    return !chosen.isEmpty() && exportModuleTo(chosen);
}

bool ModuleFiles::exportModuleTo(const QString &path)
{
    Image image {};
    if (busy() || path.trimmed().isEmpty())
        return false;
    if (!m_image(&image)) {
        setStatus(tr("Export needs a connected module."), true);
        return false;
    }
    m_exportPath = QFileInfo(path.trimmed()).absoluteFilePath();
    askFresh(Step::Export);
    return true;
}

bool ModuleFiles::chooseImport()
{
    if (!m_asker || busy())
        return false;
    QDir().mkpath(m_folder);
    const QString chosen = m_asker(false, m_folder);
    return !chosen.isEmpty() && openImport(chosen);
}

void ModuleFiles::moduleChanged()
{
    if (busy() || !m_importPath.isEmpty() || m_status.isEmpty())
        return;
    m_status.clear();
    m_failed = false;
    emit stateChanged();
}

void ModuleFiles::finishExport(const Image &image)
{
    const ModuleFileIdentity identity = identityOf(image);
    ModuleFile file = ModuleFile::fromImage(image.data(), identity);
    file.application = QStringLiteral("velmar-imu " VELMAR_VERSION);
    file.trigger = QStringLiteral("export");
    file.savedAt = QDateTime::currentDateTimeUtc();
    const QString path
        = m_exportPath.isEmpty() ? QDir(m_folder).filePath(suggestedName(image)) : m_exportPath;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        setStatus(tr("Export failed: cannot make the folder %1.").arg(folder), true);
        return;
    }
    const QString error = CheckedFile::save(path, writeModuleFile(file));
    if (!error.isEmpty()) {
        setStatus(tr("Export failed: %1.").arg(error), true);
        return;
    }
    // Import looks where the last file went.
    setFolder(folder);
    setStatus(tr("Saved the module's settings as %1").arg(QDir::toNativeSeparators(path)), false);
    emit exported(path);
}

QStringList ModuleFiles::filesInFolder() const
{
    return QDir(m_folder).entryList(
        {QStringLiteral("*.json")}, QDir::Files | QDir::Readable, QDir::Time);
}

void ModuleFiles::closeImport()
{
    m_importPath.clear();
    m_file = ModuleFile();
    m_rows.clear();
    m_written.reset();
    emit stateChanged();
}

bool ModuleFiles::openImport(const QString &path)
{
    if (busy())
        return false;
    closeImport();
    const QString whole = QFileInfo(path.trimmed()).isAbsolute()
        ? path.trimmed()
        : QDir(m_folder).filePath(path.trimmed());
    Image image {};
    if (!m_image(&image)) {
        setStatus(tr("Import needs a connected module."), true);
        return false;
    }
    const ModuleFileReading reading = readModuleFile(whole);
    QString refusal
        = reading.ok ? compatibilityRefusal(reading.file, identityOf(image)) : reading.refusal;
    if (!refusal.isEmpty()) {
        setStatus(tr("%1 refused: %2").arg(QFileInfo(whole).fileName(), refusal), true);
        return false;
    }
    m_importPath = whole;
    m_file = reading.file;
    setStatus(tr("Reading what the module holds now..."), false);
    askFresh(Step::Compare);
    return true;
}

void ModuleFiles::finishCompare(const Image &image)
{
    m_rows.clear();
    for (const RegisterComparison &c : compareWithImage(m_file, image.data())) {
        m_rows.append(QVariantMap {{QStringLiteral("row"), c.row}, {QStringLiteral("name"), c.name},
            {QStringLiteral("group"), groupOf(c.row)}, {QStringLiteral("fileText"), c.fileText},
            {QStringLiteral("moduleText"), c.moduleText}, {QStringLiteral("differs"), c.differs},
            {QStringLiteral("written"), false}, {QStringLiteral("afterText"), QString()},
            {QStringLiteral("mismatch"), false}});
    }
    setStatus(tr("Choose the registers to write."), false);
}

bool ModuleFiles::writeChosen(const QStringList &names)
{
    if (busy() || m_importPath.isEmpty() || m_rows.isEmpty())
        return false;
    Image image {};
    if (!m_image(&image)) {
        setStatus(tr("Import needs a connected module."), true);
        return false;
    }
    // Re-checked: the module on the line may have changed since the file was opened.
    const QString incompatible = compatibilityRefusal(m_file, identityOf(image));
    if (!incompatible.isEmpty()) {
        setStatus(tr("Import refused: %1").arg(incompatible), true);
        return false;
    }
    std::bitset<registerCount> chosen;
    for (const QString &name : names) {
        for (int row : rowsNamed(name)) {
            // A calibration register stands for its whole block.
            for (int member : rowsNamed(groupOf(row))) {
                if (m_file.has(member))
                    chosen.set(std::size_t(member));
            }
        }
    }
    if (chosen.none()) {
        setStatus(tr("Nothing chosen: nothing was written."), true);
        return false;
    }
    // No backup, no write.
    const QString noBackup
        = m_backup ? m_backup(QStringLiteral("before import")) : tr("no backup store is set up.");
    if (!noBackup.isEmpty()) {
        setStatus(tr("Import refused, nothing was written: %1").arg(noBackup), true);
        return false;
    }
    for (const RegisterSpan run : writeRuns(chosen))
        m_send(writeRequest(run.address, m_file.bytesAt(run.address), run.count));
    m_written = chosen;
    setStatus(tr("Written; reading back..."), false);
    askFresh(Step::ReadBack);
    return true;
}

void ModuleFiles::finishReadBack(const Image &image)
{
    int mismatches = 0;
    for (QVariant &entry : m_rows) {
        QVariantMap map = entry.toMap();
        const int row = map.value(QStringLiteral("row")).toInt();
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        const bool written = m_written.test(std::size_t(row));
        const QString now = registerValueText(row, &image[info.address]);
        const bool mismatch = written
            && std::memcmp(&image[info.address], m_file.bytesOf(row), byteWidth(info.width)) != 0;
        mismatches += mismatch ? 1 : 0;
        map[QStringLiteral("written")] = written;
        map[QStringLiteral("afterText")] = now;
        map[QStringLiteral("mismatch")] = mismatch;
        entry = map;
    }
    if (mismatches)
        setStatus(
            tr("Written, but the module holds %n register(s) differently.", nullptr, mismatches),
            true);
    else
        setStatus(tr("Written and read back: the module holds %n register(s) as in the file.",
                      nullptr, int(m_written.count())),
            false);
}
