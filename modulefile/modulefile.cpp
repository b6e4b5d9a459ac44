// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulefile.h"

#include "registertext.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr int firstWritableRow = 27; // "Control1"

const RegisterInfo &infoOf(int row)
{
    return registerCatalogue[std::size_t(row)];
}

int rowNamed(const QString &name)
{
    for (int row = 0; row < registerCount; ++row) {
        if (name == QLatin1String(infoOf(row).name))
            return row;
    }
    return -1;
}

} // namespace

QString floatValueText(float value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    // to_chars ignores the locale and gives the shortest text that reads back
    // to the same float.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

namespace {
QString floatText(float value)
{
    return floatValueText(value);
}

QJsonValue realJson(float value)
{
    if (!std::isfinite(value))
        return floatText(value);
    // The shortest float text as a double prints as that same text; should it
    // not read back to the float, the exact double does.
    const double shortest = floatText(value).toDouble();
    return float(shortest) == value ? shortest : double(value);
}

struct CalibrationShape
{
    CalibrationBlock block;
    RegisterSpan offset;
    RegisterSpan matrix; // count 0: none in the file
};

constexpr CalibrationShape calibrationShapes[calibrationBlockCount] = {
    {CalibrationBlock::Accelerometer, RegisterMap::AccOffset, RegisterMap::AccScale},
    {CalibrationBlock::Gyroscope, RegisterMap::GyroOffset, {RegisterMap::GyroScale.address, 0}},
    {CalibrationBlock::Magnetometer, RegisterMap::MagOffset, RegisterMap::MagScale},
};

QString refusedFile(const QString &why)
{
    return why;
}

} // namespace

QString ModuleFileIdentity::text() const
{
    return QStringLiteral("device 0x%1, hardware %2, software %3")
        .arg(QString::number(deviceId, 16).toUpper().rightJustified(2, QLatin1Char('0')))
        .arg(hardwareVersion)
        .arg(softwareVersion);
}

const char *calibrationBlockName(CalibrationBlock block)
{
    switch (block) {
    case CalibrationBlock::Accelerometer:
        return "accelerometer";
    case CalibrationBlock::Gyroscope:
        return "gyroscope";
    case CalibrationBlock::Magnetometer:
        return "magnetometer";
    }
    return "";
}

RegisterSpan calibrationBlockSpan(CalibrationBlock block)
{
    switch (block) {
    case CalibrationBlock::Accelerometer:
        return RegisterMap::AccCalibration;
    case CalibrationBlock::Gyroscope:
        return RegisterMap::GyroCalibration;
    case CalibrationBlock::Magnetometer:
        return RegisterMap::MagCalibration;
    }
    return {0, 0};
}

ModuleFile ModuleFile::fromImage(const quint8 *image, const ModuleFileIdentity &identity)
{
    ModuleFile file;
    file.identity = identity;
    file.savedAt = QDateTime::currentDateTimeUtc();
    std::memcpy(file.writable.data(), image + RegisterMap::Writable.address, file.writable.size());
    for (int row = firstWritableRow; row < registerCount; ++row)
        file.present.set(std::size_t(row));
    return file;
}

const quint8 *ModuleFile::bytesOf(int row) const
{
    return writable.data() + (infoOf(row).address - RegisterMap::Writable.address);
}

float ModuleFile::realOf(int row) const
{
    return readF32(bytesOf(row));
}

QString registerValueText(int row, const quint8 *bytes)
{
    const RegisterInfo &info = infoOf(row);
    switch (info.width) {
    case RegisterWidth::U8:
        return QStringLiteral("0x%1").arg(
            QString::number(bytes[0], 16).toUpper().rightJustified(2, QLatin1Char('0')));
    case RegisterWidth::U16:
        return QString::number(readU16(bytes));
    case RegisterWidth::I16:
        return QString::number(readI16(bytes));
    case RegisterWidth::F32:
        return floatText(readF32(bytes));
    }
    return QString();
}

QByteArray writeModuleFile(const ModuleFile &file)
{
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(ModuleFileFormat::formatName));
    root.insert(QStringLiteral("formatVersion"), ModuleFileFormat::version);
    root.insert(QStringLiteral("savedAt"), file.savedAt.toUTC().toString(Qt::ISODateWithMs));
    root.insert(QStringLiteral("application"), file.application);
    root.insert(QStringLiteral("trigger"), file.trigger);
    root.insert(QStringLiteral("module"),
        QJsonObject {{QStringLiteral("deviceId"), file.identity.deviceId},
            {QStringLiteral("hardwareVersion"), file.identity.hardwareVersion},
            {QStringLiteral("softwareVersion"), file.identity.softwareVersion}});

    QJsonObject calibration;
    for (const CalibrationShape &shape : calibrationShapes) {
        const auto reals = [&](RegisterSpan span) {
            QJsonArray values;
            for (int at = span.address; at < span.end(); at += 4)
                values.append(
                    realJson(readF32(file.writable.data() + (at - RegisterMap::Writable.address))));
            return values;
        };
        const RegisterSpan whole = calibrationBlockSpan(shape.block);
        bool complete = true;
        for (int at = whole.address; at < whole.end(); at += 4)
            complete = complete && file.has(registerRowAt(at));
        if (!complete)
            continue;
        QJsonObject block;
        block.insert(QStringLiteral("offset"), reals(shape.offset));
        if (shape.matrix.count > 0)
            block.insert(QStringLiteral("matrix"), reals(shape.matrix));
        const double quality = file.quality[std::size_t(shape.block)];
        if (quality >= 0)
            block.insert(QStringLiteral("quality"), quality);
        calibration.insert(QLatin1String(calibrationBlockName(shape.block)), block);
    }
    root.insert(QStringLiteral("calibration"), calibration);

    // JSON objects come out sorted by key; the registers read better in
    // catalogue order, so that object is spliced in by hand.
    QByteArray registers = "{\n";
    bool first = true;
    for (int row = firstWritableRow; row < registerCount; ++row) {
        if (!file.has(row))
            continue;
        const RegisterInfo &info = infoOf(row);
        const QJsonValue value = info.width == RegisterWidth::F32
            ? realJson(file.realOf(row))
            : QJsonValue(registerValueText(row, file.bytesOf(row)));
        const QByteArray pair = QJsonDocument(QJsonArray {QLatin1String(info.name), value})
                                    .toJson(QJsonDocument::Compact);
        // "[\"name\",value]" -> "\"name\": value"
        const int comma = pair.indexOf("\",") + 1;
        registers += (first ? "" : ",\n") + QByteArray("        ") + pair.mid(1, comma - 1) + ": "
            + pair.mid(comma + 1, pair.size() - comma - 2);
        first = false;
    }
    registers += "\n    }";
    root.insert(QStringLiteral("registers"), QStringLiteral("@REGISTERS@"));
    QByteArray text = QJsonDocument(root).toJson(QJsonDocument::Indented);
    text.replace("\"@REGISTERS@\"", registers);
    return text;
}

namespace {

// A register value from the file into `bytes`, or why not.
QString takeValue(int row, const QJsonValue &value, quint8 *bytes)
{
    const RegisterInfo &info = infoOf(row);
    QString text;
    if (value.isString()) {
        text = value.toString();
        const QString lower = text.trimmed().toLower();
        if (info.width == RegisterWidth::F32
            && (lower == QLatin1String("nan") || lower.endsWith(QLatin1String("inf"))))
            return QStringLiteral("register \"%1\" holds %2, which is not a finite number")
                .arg(QLatin1String(info.name), text);
    } else if (value.isDouble()) {
        const double number = value.toDouble();
        if (info.width == RegisterWidth::F32) {
            text = QString::number(number, 'g', 17);
        } else if (number == std::floor(number) && std::fabs(number) < 1e15) {
            text = QString::number(qint64(number));
        } else {
            text = QString::number(number, 'g', 17);
        }
    } else {
        return QStringLiteral("register \"%1\" has no value (a number or text is needed)")
            .arg(QLatin1String(info.name));
    }
    const RegisterText parsed = parseRegisterText(info.displayCode, byteWidth(info.width), text);
    if (!parsed.accepted())
        return QStringLiteral("register \"%1\": %2").arg(QLatin1String(info.name), parsed.refusal);
    std::memcpy(bytes, parsed.bytes, std::size_t(parsed.width));
    return QString();
}

bool takeInt(const QJsonObject &object, const char *key, int low, int high, int *out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < low || number > high)
        return false;
    *out = int(number);
    return true;
}

} // namespace

ModuleFileReading readModuleFile(const QByteArray &text)
{
    ModuleFileReading reading;
    auto refuse = [&](const QString &why) {
        reading.refusal = refusedFile(why);
        return reading;
    };

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("not valid JSON: %1 at byte %2")
                          .arg(error.errorString())
                          .arg(error.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("not a module file: the JSON is not an object"));
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString()
        != QLatin1String(ModuleFileFormat::formatName))
        return refuse(QStringLiteral("not a module file: \"format\" is not \"%1\"")
                          .arg(QLatin1String(ModuleFileFormat::formatName)));
    int version = 0;
    if (!takeInt(root, "formatVersion", 1, 1000000, &version))
        return refuse(QStringLiteral("\"formatVersion\" is missing or not a whole number"));
    if (version > ModuleFileFormat::version)
        return refuse(QStringLiteral("format version %1 is newer than this program reads (%2)")
                          .arg(version)
                          .arg(ModuleFileFormat::version));

    ModuleFile &file = reading.file;
    const QJsonObject module = root.value(QStringLiteral("module")).toObject();
    if (!takeInt(module, "deviceId", 0, 255, &file.identity.deviceId)
        || !takeInt(module, "hardwareVersion", 0, 65535, &file.identity.hardwareVersion)
        || !takeInt(module, "softwareVersion", 0, 65535, &file.identity.softwareVersion))
        return refuse(QStringLiteral("\"module\" must give deviceId (0-255), hardwareVersion and "
                                     "softwareVersion (0-65535) as whole numbers"));
    const QString savedAt = root.value(QStringLiteral("savedAt")).toString();
    file.savedAt = QDateTime::fromString(savedAt, Qt::ISODateWithMs);
    if (!file.savedAt.isValid())
        file.savedAt = QDateTime::fromString(savedAt, Qt::ISODate);
    if (!file.savedAt.isValid())
        return refuse(QStringLiteral("\"savedAt\" is not a date and time (ISO 8601)"));
    file.savedAt = file.savedAt.toUTC();
    file.application = root.value(QStringLiteral("application")).toString();
    file.trigger = root.value(QStringLiteral("trigger")).toString();

    const QJsonValue registersValue = root.value(QStringLiteral("registers"));
    if (!registersValue.isObject())
        return refuse(QStringLiteral("\"registers\" is missing or not an object"));
    const QJsonObject registers = registersValue.toObject();
    for (auto it = registers.begin(); it != registers.end(); ++it) {
        const int row = rowNamed(it.key());
        if (row < 0)
            return refuse(QStringLiteral("unknown register \"%1\"").arg(it.key()));
        if (!infoOf(row).writable)
            return refuse(QStringLiteral("register \"%1\" is read-only").arg(it.key()));
        quint8 bytes[4] = {};
        const QString why = takeValue(row, it.value(), bytes);
        if (!why.isEmpty())
            return refuse(why);
        std::memcpy(file.writable.data() + (infoOf(row).address - RegisterMap::Writable.address),
            bytes, std::size_t(byteWidth(infoOf(row).width)));
        file.present.set(std::size_t(row));
    }

    const QJsonValue calibrationValue = root.value(QStringLiteral("calibration"));
    if (!calibrationValue.isUndefined() && !calibrationValue.isObject())
        return refuse(QStringLiteral("\"calibration\" is not an object"));
    const QJsonObject calibration = calibrationValue.toObject();
    for (auto it = calibration.begin(); it != calibration.end(); ++it) {
        const CalibrationShape *shape = nullptr;
        for (const CalibrationShape &candidate : calibrationShapes) {
            if (it.key() == QLatin1String(calibrationBlockName(candidate.block)))
                shape = &candidate;
        }
        if (!shape)
            return refuse(QStringLiteral("unknown calibration block \"%1\"").arg(it.key()));
        const QJsonObject block = it.value().toObject();
        const auto takeReals = [&](const char *key, RegisterSpan span) -> QString {
            const QJsonArray values = block.value(QLatin1String(key)).toArray();
            const int count = span.count / 4;
            const QString where
                = QStringLiteral("calibration \"%1\" %2").arg(it.key(), QLatin1String(key));
            if (values.size() != count)
                return QStringLiteral("%1 must hold %2 numbers").arg(where).arg(count);
            for (int i = 0; i < count; ++i) {
                const int row = registerRowAt(span.address + 4 * i);
                const QJsonValue value = values.at(i);
                if (!value.isDouble()) {
                    const QString shown = value.isString()
                        ? value.toString()
                        : QStringLiteral("a value that is no number");
                    return QStringLiteral("%1[%2] is %3, not a finite number")
                        .arg(where)
                        .arg(i)
                        .arg(shown);
                }
                quint8 bytes[4] = {};
                const QString why = takeValue(row, value, bytes);
                if (!why.isEmpty())
                    return QStringLiteral("%1[%2]: %3").arg(where).arg(i).arg(why);
                quint8 *at
                    = file.writable.data() + (span.address + 4 * i - RegisterMap::Writable.address);
                if (file.has(row) && std::memcmp(at, bytes, 4) != 0)
                    return QStringLiteral("%1[%2] is %3 but register \"%4\" is %5")
                        .arg(where)
                        .arg(i)
                        .arg(floatText(readF32(bytes)), QLatin1String(infoOf(row).name),
                            floatText(readF32(at)));
                std::memcpy(at, bytes, 4);
                file.present.set(std::size_t(row));
            }
            return QString();
        };
        QString why = takeReals("offset", shape->offset);
        if (why.isEmpty() && shape->matrix.count > 0)
            why = takeReals("matrix", shape->matrix);
        if (!why.isEmpty())
            return refuse(why);
        const QJsonValue quality = block.value(QStringLiteral("quality"));
        if (!quality.isUndefined() && !quality.isNull()) {
            const double q = quality.toDouble(-1.0);
            if (!quality.isDouble() || !(q >= 0.0 && q <= 100.0))
                return refuse(
                    QStringLiteral("calibration \"%1\" quality must be 0 to 100").arg(it.key()));
            file.quality[std::size_t(shape->block)] = q;
        }
    }
    if (file.present.none())
        return refuse(QStringLiteral("the file gives no register values"));
    reading.ok = true;
    return reading;
}

ModuleFileReading readModuleFile(const QString &path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        ModuleFileReading reading;
        reading.refusal = QStringLiteral("cannot read %1: %2").arg(path, in.errorString());
        return reading;
    }
    // A module file is a few kilobytes; anything far larger is not one.
    constexpr qint64 sizeLimit = 1 << 20;
    if (in.size() > sizeLimit) {
        ModuleFileReading reading;
        reading.refusal = QStringLiteral("%1 is larger than 1 MiB: not a module file").arg(path);
        return reading;
    }
    return readModuleFile(in.readAll());
}

QString compatibilityRefusal(const ModuleFile &file, const ModuleFileIdentity &identity)
{
    if (file.identity.hardwareVersion != identity.hardwareVersion)
        return QStringLiteral("the file is for hardware version %1, the module is hardware "
                              "version %2")
            .arg(file.identity.hardwareVersion)
            .arg(identity.hardwareVersion);
    return QString();
}

QVector<RegisterComparison> compareWithImage(const ModuleFile &file, const quint8 *image)
{
    QVector<RegisterComparison> rows;
    for (int row = firstWritableRow; row < registerCount; ++row) {
        if (!file.has(row))
            continue;
        const RegisterInfo &info = infoOf(row);
        RegisterComparison comparison;
        comparison.row = row;
        comparison.name = QLatin1String(info.name);
        comparison.fileText = registerValueText(row, file.bytesOf(row));
        comparison.moduleText = registerValueText(row, image + info.address);
        comparison.differs = std::memcmp(file.bytesOf(row), image + info.address,
                                 std::size_t(byteWidth(info.width)))
            != 0;
        rows.append(comparison);
    }
    return rows;
}

QVector<int> rowsNamed(const QString &word)
{
    QVector<int> rows;
    for (const CalibrationShape &shape : calibrationShapes) {
        if (word.compare(QLatin1String(calibrationBlockName(shape.block)), Qt::CaseInsensitive))
            continue;
        const RegisterSpan span = calibrationBlockSpan(shape.block);
        for (int at = span.address; at < span.end(); at += 4)
            rows.append(registerRowAt(at));
        return rows;
    }
    const int row = rowNamed(word);
    if (row >= 0)
        rows.append(row);
    return rows;
}
