// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli's register commands. Every argument is checked before the port is
// opened, so that a refused command sends nothing; every value shown comes from
// a read answered in this run, decoded by the application's own code.
#include "clicommand.h"

#include "backupstore.h"
#include "magunit.h"
#include "registertext.h"

#include "serialports.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace Cli {

int Command::ports()
{
    const QList<SerialPortEntry> entries = enumerateSerialPorts();
    QJsonArray list;
    for (const SerialPortEntry &entry : entries) {
        if (m_json) {
            list.append(QJsonObject {{QStringLiteral("name"), entry.portName},
                {QStringLiteral("description"), entry.description},
                {QStringLiteral("device"), entry.systemLocation}});
        } else {
            out() << entry.portName;
            if (entry.systemLocation != entry.portName)
                out() << '\t' << entry.systemLocation;
            if (!entry.description.isEmpty())
                out() << '\t' << entry.description;
            out() << '\n';
        }
    }
    if (m_json)
        printJson(list);
    return CliExit::Ok;
}

int Command::info()
{
    const ModuleSnapshot module = readModule(Decoding::Decoded);
    if (!module.ok())
        return module.status;
    const RegisterImage &image = module.image;
    const ModuleFileIdentity &identity = module.identity;
    const ImageDecoder &decoder = *module.decoder;
    const int range = image[RegisterMap::SensorsRange.address];
    const int control1 = image[RegisterMap::Control1.address];
    const auto scale
        = [](float value) { return value > 0 ? QJsonValue(double(value)) : QJsonValue(); };
    if (m_json) {
        printJson(QJsonObject {{QStringLiteral("port"), port()},
            {QStringLiteral("deviceId"), identity.deviceId},
            {QStringLiteral("hardwareVersion"), identity.hardwareVersion},
            {QStringLiteral("softwareVersion"), identity.softwareVersion},
            {QStringLiteral("status"), int(image[RegisterMap::Status.address])},
            {QStringLiteral("sensorsRange"), range},
            {QStringLiteral("accFullScale"), scale(decoder.accFullScale())},
            {QStringLiteral("gyroFullScale"), scale(decoder.gyroFullScale())},
            {QStringLiteral("magFullScale"), scale(decoder.magFullScale())},
            {QStringLiteral("magUnit"),
                magUnitText(magCalibrated(&image[RegisterMap::MagCalibration.address]))},
            {QStringLiteral("control1"), control1}});
        return CliExit::Ok;
    }
    const auto scaleText = [](float value, const char *unit) {
        return value > 0 ? QStringLiteral("%1 %2").arg(double(value)).arg(QLatin1String(unit))
                         : QStringLiteral("not known");
    };
    out() << "port              " << port() << '\n'
          << "device id         " << hexByte(identity.deviceId) << '\n'
          << "hardware version  " << identity.hardwareVersion << '\n'
          << "software version  " << identity.softwareVersion << '\n'
          << "status            " << hexByte(image[RegisterMap::Status.address]) << '\n'
          << "sensors range     " << hexByte(range) << '\n'
          << "accelerometer     +/-" << scaleText(decoder.accFullScale(), "m/s2") << '\n'
          << "gyroscope         +/-" << scaleText(decoder.gyroFullScale(), "deg/s") << '\n'
          << "magnetometer      +/-"
          << scaleText(decoder.magFullScale(),
                 qPrintable(
                     magUnitText(magCalibrated(&image[RegisterMap::MagCalibration.address]))))
          << '\n'
          << "control1          " << hexByte(control1)
          << (control1 == RegisterMap::StreamingAll ? " (streaming all measurements)"
                     : control1 == RegisterMap::StreamingAccGyro
                     ? " (streaming accelerometer and gyroscope)"
                     : " (not streaming)")
          << '\n';
    return CliExit::Ok;
}

int Command::dump()
{
    const ModuleSnapshot module = readModule(Decoding::Decoded);
    if (!module.ok())
        return module.status;
    QJsonArray list;
    for (int row = 0; row < registerCount; ++row) {
        if (m_json) {
            list.append(registerJson(row, module));
            continue;
        }
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        const QString unit = ImageDecoder::unit(row, module.image.data());
        // Addresses as the register page shows them.
        out() << hexByte(info.address) << "  "
              << QString(QLatin1String(info.name)).leftJustified(26) << ' '
              << valueText(row, module).rightJustified(14)
              << (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit) << '\n';
    }
    if (m_json)
        printJson(list);
    return CliExit::Ok;
}

int Command::get()
{
    QString why;
    const int row = registerArgument(arg(1), &why);
    if (row < 0)
        return fail(CliExit::Refused, port(), why);
    const ModuleSnapshot module = readModule(Decoding::Decoded);
    if (!module.ok())
        return module.status;
    if (m_json) {
        printJson(registerJson(row, module));
    } else {
        const QString unit = ImageDecoder::unit(row, module.image.data());
        out() << valueText(row, module) << (unit.isEmpty() ? QString() : ' ' + unit) << '\n';
    }
    return CliExit::Ok;
}

int Command::set()
{
    QString why;
    const int row = registerArgument(arg(1), &why);
    if (row < 0)
        return fail(CliExit::Refused, port(), why);
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    const RegisterText parsed = parseRegisterTextAt(info.address, arg(2));
    if (!parsed.accepted())
        return fail(CliExit::Refused, port(), parsed.refusal);
    int status = CliExit::Ok;
    if (!openPort(&status))
        return status;
    const QByteArray written(reinterpret_cast<const char *>(parsed.bytes), parsed.width);
    QByteArray held;
    if (!m_link.writeAndReadBack(info.address, written, &held))
        return linkFailure();
    const auto *heldBytes = reinterpret_cast<const quint8 *>(held.constData());
    const QString wroteText = registerValueText(row, parsed.bytes);
    const QString heldText = registerValueText(row, heldBytes);
    const bool matches = held == written;
    if (m_json) {
        printJson(QJsonObject {{QStringLiteral("name"), QLatin1String(info.name)},
            {QStringLiteral("address"), info.address}, {QStringLiteral("written"), wroteText},
            {QStringLiteral("held"), heldText}, {QStringLiteral("matches"), matches}});
    } else if (matches) {
        out() << info.name << " = " << heldText << '\n';
    }
    out().flush();
    if (!matches)
        return fail(CliExit::Mismatch, port(),
            QStringLiteral("\"%1\" holds %2 after writing %3")
                .arg(QLatin1String(info.name), heldText, wroteText));
    return CliExit::Ok;
}

int Command::backups()
{
    const BackupStore store;
    int skipped = 0;
    const QVector<BackupEntry> entries = store.list(&skipped);
    if (m_json) {
        QJsonArray list;
        for (const BackupEntry &entry : entries)
            list.append(QJsonObject {{QStringLiteral("file"), entry.path},
                {QStringLiteral("savedAt"), entry.savedAt.toString(Qt::ISODateWithMs)},
                {QStringLiteral("deviceId"), entry.identity.deviceId},
                {QStringLiteral("hardwareVersion"), entry.identity.hardwareVersion},
                {QStringLiteral("softwareVersion"), entry.identity.softwareVersion},
                {QStringLiteral("trigger"), entry.trigger}});
        printJson(QJsonObject {{QStringLiteral("folder"), store.folder()},
            {QStringLiteral("backups"), list}, {QStringLiteral("unreadable"), skipped}});
        return CliExit::Ok;
    }
    out() << "folder: " << store.folder() << '\n';
    for (const BackupEntry &entry : entries)
        out() << entry.savedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "  "
              << entry.identity.text() << "  " << entry.trigger << "  " << entry.path << '\n';
    if (skipped > 0)
        out() << skipped << " file(s) in the folder are not readable backups\n";
    return CliExit::Ok;
}

} // namespace Cli
