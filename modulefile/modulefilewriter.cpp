// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a module file: the JSON text of a ModuleFile.
#include "modulefile.h"
#include "modulefileparts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

using namespace ModuleFileParts;

namespace {

// A real as JSON: a number where JSON can hold it, else its text ("nan", "inf").
QJsonValue realJson(float value)
{
    // JSON numbers lose the sign of zero: -0 goes as its text.
    if (!std::isfinite(value) || (value == 0.0f && std::signbit(value)))
        return floatValueText(value);
    // The shortest float text as a double prints as that same text; should it
    // not read back to the float, the exact double does.
    const double shortest = floatValueText(value).toDouble();
    return float(shortest) == value ? shortest : double(value);
}

} // namespace

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
