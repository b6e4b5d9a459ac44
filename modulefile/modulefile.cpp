// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulefile.h"
#include "modulefileparts.h"

#include "registertext.h"

#include <charconv>
#include <cmath>
#include <cstring>

using namespace ModuleFileParts;

int ModuleFileParts::rowNamed(const QString &name)
{
    for (int row = 0; row < registerCount; ++row) {
        if (name == QLatin1String(infoOf(row).name))
            return row;
    }
    return -1;
}

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
    return bytesAt(infoOf(row).address);
}

const quint8 *ModuleFile::bytesAt(int address) const
{
    return writable.data() + (address - RegisterMap::Writable.address);
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
        return floatValueText(readF32(bytes));
    }
    return QString();
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

QVector<RegisterSpan> writeRuns(const std::bitset<registerCount> &rows)
{
    QVector<RegisterSpan> runs;
    for (int row = 0; row < registerCount;) {
        if (!rows.test(std::size_t(row))) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < registerCount && rows.test(std::size_t(row)))
            ++row;
        const RegisterInfo &last = infoOf(row - 1);
        const int start = infoOf(first).address;
        runs.append({quint8(start), quint8(last.address + byteWidth(last.width) - start)});
    }
    return runs;
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
