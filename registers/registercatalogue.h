// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include "registermap.h"

#include <array>

// The module's 61 named registers as one table. Everything else that needs a
// register's address, width, display code or factory default reads it here.

enum class RegisterWidth { U8, U16, I16, F32 };

struct RegisterInfo
{
    const char *name;
    quint8 address;
    RegisterWidth width;
    int displayCode; // 0 = byte in hex, 1 = unsigned integer, 2 = real with two decimals
    bool writable;
    const char *description;
    float defaultValue; // meaningful for writable rows only
};

constexpr int registerCount = 61;
constexpr int registerSpaceSize = RegisterMap::Size;
// Bytes 52..175 hold control, range and calibration: the writable stretch that a
// factory reset rewrites in one request.
constexpr int writableStart = RegisterMap::Writable.address;
constexpr int writableLength = RegisterMap::Writable.count;

extern const std::array<RegisterInfo, registerCount> registerCatalogue;

int byteWidth(RegisterWidth width);

// Row of the register at `address`, or -1 when no register starts there.
int registerRowAt(int address);

// The 124 factory-default bytes for addresses 52..175, laid out by address and width.
std::array<quint8, writableLength> defaultBlock();

// Little-endian accessors for the register space; reals may start at any address.
quint16 readU16(const quint8 *bytes);
qint16 readI16(const quint8 *bytes);
float readF32(const quint8 *bytes);
void writeU16(quint8 *bytes, quint16 value);
void writeF32(quint8 *bytes, float value);
