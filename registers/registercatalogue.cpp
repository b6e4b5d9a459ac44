// SPDX-License-Identifier: GPL-3.0-or-later
#include "registercatalogue.h"

#include <cstring>

namespace {
constexpr const char *noDescription = "No Description";
using W = RegisterWidth;
} // namespace

// clang-format off
const std::array<RegisterInfo, registerCount> registerCatalogue = {{
    {"Device ID",                  0, W::U8,  0, false, "ID Code Of Current Device", 0.0f},
    {"Status",                     1, W::U8,  0, false, "Device Status", 0.0f},
    {"Hardware Version",           2, W::U16, 1, false, noDescription, 0.0f},
    {"Software Version",           4, W::U16, 1, false, noDescription, 0.0f},
    {"Accelerometer X",            6, W::I16, 2, false, noDescription, 0.0f},
    {"Accelerometer Y",            8, W::I16, 2, false, noDescription, 0.0f},
    {"Accelerometer Z",           10, W::I16, 2, false, noDescription, 0.0f},
    {"Gyroscope X",               12, W::I16, 2, false, noDescription, 0.0f},
    {"Gyroscope Y",               14, W::I16, 2, false, noDescription, 0.0f},
    {"Gyroscope Z",               16, W::I16, 2, false, noDescription, 0.0f},
    {"Magnetometer X",            18, W::I16, 2, false, noDescription, 0.0f},
    {"Magnetometer Y",            20, W::I16, 2, false, noDescription, 0.0f},
    {"Magnetometer Z",            22, W::I16, 2, false, noDescription, 0.0f},
    {"Temperature",               24, W::I16, 2, false, noDescription, 0.0f},
    {"Quaternion0",               26, W::I16, 2, false, noDescription, 0.0f},
    {"Quaternion1",               28, W::I16, 2, false, noDescription, 0.0f},
    {"Quaternion2",               30, W::I16, 2, false, noDescription, 0.0f},
    {"Quaternion3",               32, W::I16, 2, false, noDescription, 0.0f},
    {"Euler Angle Roll",          34, W::I16, 2, false, noDescription, 0.0f},
    {"Euler Angle Pitch",         36, W::I16, 2, false, noDescription, 0.0f},
    {"Euler Angle Yaw",           38, W::I16, 2, false, noDescription, 0.0f},
    {"Linear Acceleration X",     40, W::I16, 2, false, noDescription, 0.0f},
    {"Linear Acceleration Y",     42, W::I16, 2, false, noDescription, 0.0f},
    {"Linear Acceleration Z",     44, W::I16, 2, false, noDescription, 0.0f},
    {"Gravity X",                 46, W::I16, 2, false, noDescription, 0.0f},
    {"Gravity Y",                 48, W::I16, 2, false, noDescription, 0.0f},
    {"Gravity Z",                 50, W::I16, 2, false, noDescription, 0.0f},
    {"Control1",                  52, W::U8,  0, true,  noDescription, float(0x85)},
    {"Control2",                  53, W::U8,  0, true,  noDescription, float(0x00)},
    {"Sensors Range",             54, W::U8,  0, true,  noDescription, float(0x00)},
    {"ACC Offset X",              55, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Offset Y",              59, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Offset Z",              63, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor0",         67, W::F32, 2, true,  noDescription, 1.0f},
    {"ACC Scale Factor1",         71, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor2",         75, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor3",         79, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor4",         83, W::F32, 2, true,  noDescription, 1.0f},
    {"ACC Scale Factor5",         87, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor6",         91, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor7",         95, W::F32, 2, true,  noDescription, 0.0f},
    {"ACC Scale Factor8",         99, W::F32, 2, true,  noDescription, 1.0f},
    {"Gyroscope Offset X",       103, W::F32, 2, true,  noDescription, 0.0f},
    {"Gyroscope Offset Y",       107, W::F32, 2, true,  noDescription, 0.0f},
    {"Gyroscope Offset Z",       111, W::F32, 2, true,  noDescription, 0.0f},
    {"Gyroscope Scale Factor X", 115, W::F32, 2, true,  noDescription, 1.0f},
    {"Gyroscope Scale Factor Y", 119, W::F32, 2, true,  noDescription, 1.0f},
    {"Gyroscope Scale Factor Z", 123, W::F32, 2, true,  noDescription, 1.0f},
    {"MAG  Offset X",            127, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG  Offset Y",            131, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG  Offset Z",            135, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor0",        139, W::F32, 2, true,  noDescription, 1.0f},
    {"MAG Scale Factor1",        143, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor2",        147, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor3",        151, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor4",        155, W::F32, 2, true,  noDescription, 1.0f},
    {"MAG Scale Factor5",        159, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor6",        163, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor7",        167, W::F32, 2, true,  noDescription, 0.0f},
    {"MAG Scale Factor8",        171, W::F32, 2, true,  noDescription, 1.0f},
    {"ACC_MAG_EFF",              175, W::U8,  0, true,  noDescription, float(0x0A)},
}};
// clang-format on

int byteWidth(RegisterWidth width)
{
    switch (width) {
    case RegisterWidth::U8:
        return 1;
    case RegisterWidth::U16:
    case RegisterWidth::I16:
        return 2;
    case RegisterWidth::F32:
        return 4;
    }
    return 1;
}

int registerRowAt(int address)
{
    for (int row = 0; row < registerCount; ++row) {
        if (registerCatalogue[row].address == address)
            return row;
    }
    return -1;
}

std::array<quint8, writableLength> defaultBlock()
{
    std::array<quint8, writableLength> block {};
    for (const RegisterInfo &reg : registerCatalogue) {
        if (!reg.writable)
            continue;
        quint8 *at = block.data() + (reg.address - writableStart);
        switch (reg.width) {
        case RegisterWidth::U8:
            *at = quint8(reg.defaultValue);
            break;
        case RegisterWidth::U16:
        case RegisterWidth::I16:
            writeU16(at, quint16(reg.defaultValue));
            break;
        case RegisterWidth::F32:
            writeF32(at, reg.defaultValue);
            break;
        }
    }
    return block;
}

quint16 readU16(const quint8 *bytes)
{
    return quint16(bytes[0] | (bytes[1] << 8));
}

qint16 readI16(const quint8 *bytes)
{
    return qint16(readU16(bytes));
}

float readF32(const quint8 *bytes)
{
    const quint32 bits = quint32(bytes[0]) | (quint32(bytes[1]) << 8) | (quint32(bytes[2]) << 16)
        | (quint32(bytes[3]) << 24);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void writeU16(quint8 *bytes, quint16 value)
{
    bytes[0] = quint8(value & 0xFF);
    bytes[1] = quint8(value >> 8);
}

void writeF32(quint8 *bytes, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i)
        bytes[i] = quint8(bits >> (8 * i));
}
