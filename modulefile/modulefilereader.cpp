// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a module file: every value checked, the whole file taken or refused.
#include "modulefile.h"
#include "modulefileparts.h"

#include "checkedfile.h"
#include "registertext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QVector>

#include <cmath>
#include <cstring>
#include <limits>

using namespace ModuleFileParts;

namespace {

// A real the file gives as the exact value of a 32-bit float, or as the
// shortest text of one, subnormal floats included: a file holds what the
// module held, so a value the register page would refuse as typed by hand
// (too small to keep its digits) still reads back to the same bits.
bool takeExactReal(const QString &text, quint8 *bytes)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number)
        || std::fabs(number) > double(std::numeric_limits<float>::max()))
        return false;
    const float value = float(number);
    if (double(value) != number && floatValueText(value).toDouble() != number)
        return false;
    writeF32(bytes, value);
    return true;
}

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
    if (info.width == RegisterWidth::F32 && takeExactReal(text, bytes))
        return QString();
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

// The first key that an object of `text` (valid JSON) gives twice, at any
// depth; empty when none does. The parser keeps the last of them silently,
// so a file naming a value twice would be read as only one of its meanings.
QString duplicateKey(const QByteArray &text)
{
    struct Level
    {
        bool object;
        bool expectKey;
        QSet<QString> keys;
    };
    QVector<Level> levels;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '{' || c == '[') {
            levels.append({c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!levels.isEmpty())
                levels.removeLast();
        } else if (c == ',') {
            if (!levels.isEmpty() && levels.last().object)
                levels.last().expectKey = true;
        } else if (c == '"') {
            const int start = i;
            for (++i; i < text.size() && text.at(i) != '"'; ++i) {
                if (text.at(i) == '\\')
                    ++i;
            }
            if (levels.isEmpty() || !levels.last().object || !levels.last().expectKey)
                continue;
            levels.last().expectKey = false;
            const QByteArray quoted = text.mid(start, i - start + 1);
            // Escapes spell one key in several ways: compare them decoded.
            const QString key = quoted.contains('\\')
                ? QJsonDocument::fromJson("[" + quoted + "]").array().at(0).toString()
                : QString::fromUtf8(quoted.mid(1, quoted.size() - 2));
            if (levels.last().keys.contains(key))
                return key;
            levels.last().keys.insert(key);
        }
    }
    return QString();
}

} // namespace

namespace {

// The file's kind, version, module and origin; why not, or empty.
QString takeHeader(const QJsonObject &root, ModuleFile *file)
{
    if (root.value(QStringLiteral("format")).toString()
        != QLatin1String(ModuleFileFormat::formatName))
        return QStringLiteral("not a module file: \"format\" is not \"%1\"")
            .arg(QLatin1String(ModuleFileFormat::formatName));
    int version = 0;
    if (!takeInt(root, "formatVersion", 1, 1000000, &version))
        return QStringLiteral("\"formatVersion\" is missing or not a whole number");
    if (version > ModuleFileFormat::version)
        return QStringLiteral("format version %1 is newer than this program reads (%2)")
            .arg(version)
            .arg(ModuleFileFormat::version);

    const QJsonObject module = root.value(QStringLiteral("module")).toObject();
    if (!takeInt(module, "deviceId", 0, 255, &file->identity.deviceId)
        || !takeInt(module, "hardwareVersion", 0, 65535, &file->identity.hardwareVersion)
        || !takeInt(module, "softwareVersion", 0, 65535, &file->identity.softwareVersion))
        return QStringLiteral("\"module\" must give deviceId (0-255), hardwareVersion and "
                              "softwareVersion (0-65535) as whole numbers");
    const QString savedAt = root.value(QStringLiteral("savedAt")).toString();
    file->savedAt = QDateTime::fromString(savedAt, Qt::ISODateWithMs);
    if (!file->savedAt.isValid())
        file->savedAt = QDateTime::fromString(savedAt, Qt::ISODate);
    if (!file->savedAt.isValid())
        return QStringLiteral("\"savedAt\" is not a date and time (ISO 8601)");
    file->savedAt = file->savedAt.toUTC();
    file->application = root.value(QStringLiteral("application")).toString();
    file->trigger = root.value(QStringLiteral("trigger")).toString();
    return QString();
}

// "registers": each named, writable and parsed.
QString takeRegisters(const QJsonObject &root, ModuleFile *file)
{
    const QJsonValue registersValue = root.value(QStringLiteral("registers"));
    if (!registersValue.isObject())
        return QStringLiteral("\"registers\" is missing or not an object");
    const QJsonObject registers = registersValue.toObject();
    for (auto it = registers.begin(); it != registers.end(); ++it) {
        const int row = rowNamed(it.key());
        if (row < 0)
            return QStringLiteral("unknown register \"%1\"").arg(it.key());
        if (!infoOf(row).writable)
            return QStringLiteral("register \"%1\" is read-only").arg(it.key());
        quint8 bytes[4] = {};
        const QString why = takeValue(row, it.value(), bytes);
        if (!why.isEmpty())
            return why;
        std::memcpy(writableAt(*file, infoOf(row).address), bytes,
            std::size_t(byteWidth(infoOf(row).width)));
        file->present.set(std::size_t(row));
    }
    return QString();
}

// The reals of one key of a calibration block ("offset", "matrix"), which
// must agree with the registers the file also gives.
QString takeReals(const QJsonObject &block, const QString &blockName, const char *key,
    RegisterSpan span, ModuleFile *file)
{
    const QJsonArray values = block.value(QLatin1String(key)).toArray();
    const int count = span.count / 4;
    const QString where
        = QStringLiteral("calibration \"%1\" %2").arg(blockName, QLatin1String(key));
    if (values.size() != count)
        return QStringLiteral("%1 must hold %2 numbers").arg(where).arg(count);
    for (int i = 0; i < count; ++i) {
        const int row = registerRowAt(span.address + 4 * i);
        const QJsonValue value = values.at(i);
        // A number, or the text of one ("-0", which JSON numbers cannot keep).
        if (!value.isDouble() && !value.isString())
            return QStringLiteral("%1[%2] is a value that is no number, not a finite number")
                .arg(where)
                .arg(i);
        quint8 bytes[4] = {};
        const QString why = takeValue(row, value, bytes);
        if (!why.isEmpty())
            return QStringLiteral("%1[%2]: %3").arg(where).arg(i).arg(why);
        quint8 *at = writableAt(*file, span.address + 4 * i);
        if (file->has(row) && std::memcmp(at, bytes, 4) != 0)
            return QStringLiteral("%1[%2] is %3 but register \"%4\" is %5")
                .arg(where)
                .arg(i)
                .arg(floatValueText(readF32(bytes)), QLatin1String(infoOf(row).name),
                    floatValueText(readF32(at)));
        std::memcpy(at, bytes, 4);
        file->present.set(std::size_t(row));
    }
    return QString();
}

// "calibration": the blocks by name, their reals and their quality.
QString takeCalibration(const QJsonObject &root, ModuleFile *file)
{
    const QJsonValue calibrationValue = root.value(QStringLiteral("calibration"));
    if (!calibrationValue.isUndefined() && !calibrationValue.isObject())
        return QStringLiteral("\"calibration\" is not an object");
    const QJsonObject calibration = calibrationValue.toObject();
    for (auto it = calibration.begin(); it != calibration.end(); ++it) {
        const CalibrationShape *shape = nullptr;
        for (const CalibrationShape &candidate : calibrationShapes) {
            if (it.key() == QLatin1String(calibrationBlockName(candidate.block)))
                shape = &candidate;
        }
        if (!shape)
            return QStringLiteral("unknown calibration block \"%1\"").arg(it.key());
        const QJsonObject block = it.value().toObject();
        QString why = takeReals(block, it.key(), "offset", shape->offset, file);
        if (why.isEmpty() && shape->matrix.count > 0)
            why = takeReals(block, it.key(), "matrix", shape->matrix, file);
        if (!why.isEmpty())
            return why;
        const QJsonValue quality = block.value(QStringLiteral("quality"));
        if (!quality.isUndefined() && !quality.isNull()) {
            const double q = quality.toDouble(-1.0);
            if (!quality.isDouble() || !(q >= 0.0 && q <= 100.0))
                return QStringLiteral("calibration \"%1\" quality must be 0 to 100").arg(it.key());
            file->quality[std::size_t(shape->block)] = q;
        }
    }
    return QString();
}

} // namespace

ModuleFileReading readModuleFile(const QByteArray &text)
{
    ModuleFileReading reading;
    // Keys given twice are looked for before Qt parses the text: its parser
    // leaks the objects of a document with duplicate keys.
    const QString duplicate = duplicateKey(text);
    if (!duplicate.isEmpty()) {
        reading.refusal = QStringLiteral("the key \"%1\" is given twice in one object: "
                                         "the file is ambiguous")
                              .arg(duplicate);
        return reading;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        reading.refusal = QStringLiteral("not valid JSON: %1 at byte %2")
                              .arg(error.errorString())
                              .arg(error.offset);
    else if (!document.isObject())
        reading.refusal = QStringLiteral("not a module file: the JSON is not an object");
    if (!reading.refusal.isEmpty())
        return reading;

    // The first fault refuses the whole file.
    const QJsonObject root = document.object();
    for (const auto take : {takeHeader, takeRegisters, takeCalibration}) {
        reading.refusal = take(root, &reading.file);
        if (!reading.refusal.isEmpty())
            return reading;
    }
    if (reading.file.present.none()) {
        reading.refusal = QStringLiteral("the file gives no register values");
        return reading;
    }
    reading.ok = true;
    return reading;
}

ModuleFileReading readModuleFile(const QString &path)
{
    // A module file is a few kilobytes; anything far larger is not one.
    constexpr qint64 sizeLimit = 1 << 20;
    const CheckedFile::Loading loading = CheckedFile::load(path, sizeLimit);
    if (!loading.ok()) {
        ModuleFileReading reading;
        reading.refusal = loading.error;
        return reading;
    }
    return readModuleFile(loading.data);
}
