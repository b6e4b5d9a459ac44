// SPDX-License-Identifier: GPL-3.0-or-later
// What velmar-cli's commands share: output, errors, register arguments, and
// the steps before a command's own part (check and open the port, read the
// module, decode it as the application does). The commands themselves are in
// clicommands.cpp and clifilecommands.cpp.
#include "clicommand.h"

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

int registerNamedLoosely(const QString &text)
{
    const QString wanted = text.simplified();
    for (int row = 0; row < registerCount; ++row) {
        const QString name = QLatin1String(registerCatalogue[std::size_t(row)].name);
        if (wanted.compare(name.simplified(), Qt::CaseInsensitive) == 0)
            return row;
    }
    return -1;
}

int registerArgument(const QString &text, QString *why)
{
    const int named = registerNamedLoosely(text);
    if (named >= 0)
        return named;
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

bool Command::openPort(int *status)
{
    QString why;
    if (ModuleLink::resolvePort(port(), &why).isEmpty()) {
        *status = fail(CliExit::PortUnavailable, port(), why);
        return false;
    }
    if (!m_link.open(port())) {
        *status = linkFailure();
        return false;
    }
    return true;
}

ModuleSnapshot Command::readModule(Decoding decoding)
{
    ModuleSnapshot module;
    if (!openPort(&module.status))
        return module;
    if (!m_link.readConfirmedImage(&module.image)) {
        module.status = linkFailure();
        return module;
    }
    const RegisterImage &image = module.image;
    module.identity = {image[RegisterMap::DeviceId.address],
        readU16(&image[RegisterMap::HardwareVersion.address]),
        readU16(&image[RegisterMap::SoftwareVersion.address])};
    if (decoding == Decoding::Decoded) {
        module.decoder = std::make_unique<ImageDecoder>();
        if (!module.decoder->decode(image))
            module.status = fail(CliExit::Failure, port(), module.decoder->error());
    }
    return module;
}

int Command::linkFailure()
{
    int status = CliExit::PortUnavailable;
    if (m_link.failure() == ModuleLink::Failure::Silent)
        status = CliExit::ModuleSilent;
    else if (m_link.failure() == ModuleLink::Failure::Unconfirmed)
        status = CliExit::Failure;
    return fail(status, port(), m_link.error());
}

QString Command::valueText(int row, const ModuleSnapshot &module) const
{
    const ImageDecoder &decoder = *module.decoder;
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    if (info.width != RegisterWidth::I16)
        return registerValueText(row, module.image.data() + info.address);
    const QVariant value = decoder.value(row);
    if (!value.isValid())
        return QStringLiteral("unknown");
    if (value.userType() == QMetaType::Double)
        return QString::number(value.toDouble(), 'f', 2);
    return floatValueText(value.toFloat());
}

QJsonObject Command::registerJson(int row, const ModuleSnapshot &module)
{
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    QJsonObject object {{QStringLiteral("name"), QLatin1String(info.name)},
        {QStringLiteral("address"), info.address}, {QStringLiteral("writable"), info.writable},
        {QStringLiteral("text"), valueText(row, module)},
        {QStringLiteral("unit"), ImageDecoder::unit(row, module.image.data())}};
    const quint8 *bytes = module.image.data() + info.address;
    switch (info.width) {
    case RegisterWidth::U8:
        object.insert(QStringLiteral("value"), int(bytes[0]));
        break;
    case RegisterWidth::U16:
        object.insert(QStringLiteral("value"), int(readU16(bytes)));
        break;
    case RegisterWidth::I16: {
        object.insert(QStringLiteral("raw"), int(readI16(bytes)));
        const QVariant value = module.decoder->value(row);
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
    if (name == QLatin1String("noise"))
        return noise();
    if (name == QLatin1String("mag-fit"))
        return magFit();
    return record();
}

} // namespace Cli
