// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli's register commands. Every argument is checked before the port is
// opened, so that a refused command sends nothing; every value shown comes from
// a read answered in this run, decoded by the application's own code.
#include "clicommand.h"

#include "backupstore.h"
#include "registertext.h"

#include "serialports.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace Cli {

QString unmarked(QString argument)
{
    if (argument.startsWith(negativeMark))
        argument.remove(0, 1);
    return argument;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void errorLine(const QString &where, const QString &why)
{
    QTextStream err(stderr);
    err << "velmar-cli: " << where << ": " << why << '\n';
}

int fail(int status, const QString &where, const QString &why)
{
    errorLine(where, why);
    return status;
}

void printJson(const QJsonValue &value)
{
    const QJsonDocument document
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    out() << QString::fromUtf8(document.toJson(QJsonDocument::Compact)) << '\n';
    out().flush();
}

QString hexByte(int value)
{
    return QStringLiteral("0x%1").arg(
        QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}

int registerArgument(const QString &text, QString *why)
{
    for (int row = 0; row < registerCount; ++row) {
        if (text.compare(
                QLatin1String(registerCatalogue[std::size_t(row)].name), Qt::CaseInsensitive)
            == 0)
            return row;
    }
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int address = trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
        ? trimmed.mid(2).toInt(&ok, 16)
        : trimmed.toInt(&ok, 10);
    if (ok) {
        const int row = registerRowAt(address);
        if (row >= 0)
            return row;
        *why = QStringLiteral("no register starts at address %1").arg(text);
        return -1;
    }
    *why = QStringLiteral("unknown register \"%1\" (velmar-cli dump lists them)").arg(text);
    return -1;
}

bool Command::checkPort(int *status)
{
    QString why;
    if (ModuleLink::resolvePort(port(), &why).isEmpty()) {
        *status = fail(CliExit::PortUnavailable, port(), why);
        return false;
    }
    return true;
}

bool Command::openPort(int *status)
{
    if (!m_link.open(port())) {
        *status = linkFailure();
        return false;
    }
    return true;
}

int Command::linkFailure()
{
    const int status = m_link.failure() == ModuleLink::Failure::Silent ? CliExit::ModuleSilent
                                                                       : CliExit::PortUnavailable;
    return fail(status, port(), m_link.error());
}

bool Command::readDecoded(RegisterImage *image, ImageDecoder *decoder, int *status)
{
    if (!m_link.readImage(image)) {
        *status = linkFailure();
        return false;
    }
    if (!decoder->decode(*image)) {
        *status = fail(CliExit::Failure, port(), decoder->error());
        return false;
    }
    return true;
}

QString Command::valueText(int row, const RegisterImage &image, const ImageDecoder &decoder) const
{
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    if (info.width != RegisterWidth::I16)
        return registerValueText(row, image.data() + info.address);
    const QVariant value = decoder.value(row);
    if (!value.isValid())
        return QStringLiteral("unknown");
    if (value.userType() == QMetaType::Double)
        return QString::number(value.toDouble(), 'f', 2);
    return floatValueText(value.toFloat());
}

QJsonObject Command::registerJson(int row, const RegisterImage &image, const ImageDecoder &decoder)
{
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    QJsonObject object {{QStringLiteral("name"), QLatin1String(info.name)},
        {QStringLiteral("address"), info.address}, {QStringLiteral("writable"), info.writable},
        {QStringLiteral("text"), valueText(row, image, decoder)},
        {QStringLiteral("unit"), ImageDecoder::unit(row)}};
    const quint8 *bytes = image.data() + info.address;
    switch (info.width) {
    case RegisterWidth::U8:
        object.insert(QStringLiteral("value"), int(bytes[0]));
        break;
    case RegisterWidth::U16:
        object.insert(QStringLiteral("value"), int(readU16(bytes)));
        break;
    case RegisterWidth::I16: {
        object.insert(QStringLiteral("raw"), int(readI16(bytes)));
        const QVariant value = decoder.value(row);
        object.insert(QStringLiteral("value"),
            value.isValid() ? QJsonValue(QString::number(value.toDouble(), 'g', 9).toDouble())
                            : QJsonValue());
        break;
    }
    case RegisterWidth::F32: {
        const float value = readF32(bytes);
        object.insert(QStringLiteral("value"),
            std::isfinite(value) ? QJsonValue(registerValueText(row, bytes).toDouble())
                                 : QJsonValue(registerValueText(row, bytes)));
        break;
    }
    }
    return object;
}

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
    int status = CliExit::Ok;
    if (!checkPort(&status) || !openPort(&status))
        return status;
    RegisterImage image {};
    ImageDecoder decoder;
    if (!readDecoded(&image, &decoder, &status))
        return status;
    const ModuleFileIdentity identity {image[0], readU16(&image[2]), readU16(&image[4])};
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
          << "magnetometer      +/-" << scaleText(decoder.magFullScale(), "(full-scale unit)")
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
    int status = CliExit::Ok;
    if (!checkPort(&status) || !openPort(&status))
        return status;
    RegisterImage image {};
    ImageDecoder decoder;
    if (!readDecoded(&image, &decoder, &status))
        return status;
    QJsonArray list;
    for (int row = 0; row < registerCount; ++row) {
        if (m_json) {
            list.append(registerJson(row, image, decoder));
            continue;
        }
        const RegisterInfo &info = registerCatalogue[std::size_t(row)];
        const QString unit = ImageDecoder::unit(row);
        out() << QString::number(info.address).rightJustified(3) << "  "
              << QString(QLatin1String(info.name)).leftJustified(26) << ' '
              << valueText(row, image, decoder).rightJustified(14)
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
    int status = CliExit::Ok;
    if (!checkPort(&status) || !openPort(&status))
        return status;
    RegisterImage image {};
    ImageDecoder decoder;
    if (!readDecoded(&image, &decoder, &status))
        return status;
    if (m_json) {
        printJson(registerJson(row, image, decoder));
    } else {
        const QString unit = ImageDecoder::unit(row);
        out() << valueText(row, image, decoder) << (unit.isEmpty() ? QString() : ' ' + unit)
              << '\n';
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
    if (!checkPort(&status) || !openPort(&status))
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

int Command::run()
{
    const QString name = QLatin1String(m_entry.name);
    if (name == QLatin1String("ports"))
        return ports();
    if (name == QLatin1String("info"))
        return info();
    if (name == QLatin1String("dump"))
        return dump();
    if (name == QLatin1String("get"))
        return get();
    if (name == QLatin1String("set"))
        return set();
    if (name == QLatin1String("export"))
        return exportFile();
    if (name == QLatin1String("import"))
        return importFile();
    if (name == QLatin1String("gyro-cal"))
        return gyroCal();
    if (name == QLatin1String("backups"))
        return backups();
    return record();
}

} // namespace Cli
