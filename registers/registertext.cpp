// SPDX-License-Identifier: GPL-3.0-or-later
#include "registertext.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Halfway between the largest float and the next power of two: anything below
// rounds to a finite float, so "3.4028235e38" (the largest float as usually
// printed, a little above its exact value) is still that float.
const double floatRoundingLimit = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);

QString refusedByte(const QString &text)
{
    return QStringLiteral("\"%1\" is not a byte: type 0 to 255 or 0x00 to 0xFF.").arg(text);
}

RegisterText parseByte(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9A-Fa-f]+)$"));
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    RegisterText result;
    result.width = 1;
    bool ok = false;
    qulonglong value = 0;
    const QRegularExpressionMatch hexMatch = hex.match(text);
    if (hexMatch.hasMatch())
        value = hexMatch.captured(1).toULongLong(&ok, 16);
    else if (decimal.match(text).hasMatch())
        value = text.toULongLong(&ok, 10);
    if (!ok || value > 0xFF) {
        result.refusal = refusedByte(text);
        return result;
    }
    result.bytes[0] = quint8(value);
    return result;
}

RegisterText parseUnsigned(const QString &text, int width)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    RegisterText result;
    result.width = width;
    bool ok = false;
    const qulonglong value = decimal.match(text).hasMatch() ? text.toULongLong(&ok, 10) : 0;
    const qulonglong limit = (qulonglong(1) << (8 * width)) - 1;
    if (!ok || value > limit) {
        result.refusal
            = QStringLiteral("\"%1\" is not a whole number from 0 to %2.").arg(text).arg(limit);
        return result;
    }
    for (int i = 0; i < width; ++i)
        result.bytes[i] = quint8(value >> (8 * i));
    return result;
}

RegisterText parseReal(const QString &text)
{
    RegisterText result;
    result.width = 4;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok) {
        result.refusal
            = QStringLiteral("\"%1\" is not a number: type for example 1.5 or -2.5e-3.").arg(text);
    } else if (!std::isfinite(value)) {
        // NaN or infinity would end up in the calibration registers.
        result.refusal = QStringLiteral("\"%1\" is not a finite number.").arg(text);
    } else if (std::fabs(value) >= floatRoundingLimit) {
        result.refusal
            = QStringLiteral("%1 is too large for a 32-bit float (largest 3.4028235e38).")
                  .arg(text);
    }
    if (!result.accepted())
        return result;
    // Between the largest float and the limit the value rounds down to it.
    const double largest = double(std::numeric_limits<float>::max());
    const float rounded = float(std::max(-largest, std::min(largest, value)));
    if (value != 0 && std::fabs(rounded) < std::numeric_limits<float>::min()) {
        // Below the smallest normal float the value keeps few or no digits, down
        // to 0: not what was typed.
        result.refusal
            = QStringLiteral("%1 is too small for a 32-bit float (smallest 1.1754944e-38, "
                             "or 0); it cannot be written as typed.")
                  .arg(text);
        return result;
    }
    writeF32(result.bytes, rounded);
    return result;
}
} // namespace

RegisterText parseRegisterText(int displayCode, int width, const QString &text)
{
    const QString trimmed = text.trimmed();
    switch (displayCode) {
    case 0:
        if (width == 1)
            return parseByte(trimmed);
        break;
    case 1:
        if (width >= 1 && width <= 4)
            return parseUnsigned(trimmed, width);
        break;
    case 2:
        if (width == 4)
            return parseReal(trimmed);
        break;
    }
    RegisterText result;
    result.refusal = QStringLiteral("This register cannot be written from text.");
    return result;
}

RegisterText parseRegisterTextAt(int address, const QString &text)
{
    const int row = registerRowAt(address);
    if (row < 0) {
        RegisterText result;
        result.refusal = QStringLiteral("No register starts at address %1.").arg(address);
        return result;
    }
    const RegisterInfo &info = registerCatalogue[std::size_t(row)];
    if (!info.writable) {
        RegisterText result;
        result.refusal = QStringLiteral("%1 is read-only.").arg(QLatin1String(info.name));
        return result;
    }
    return parseRegisterText(info.displayCode, byteWidth(info.width), text);
}
