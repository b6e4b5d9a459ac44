// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registercatalogue.h"

#include <QString>
#include <QtGlobal>

// Text typed into a register cell, turned into the bytes the register takes.
struct RegisterText
{
    // Empty when the text was taken; otherwise why not, in words for the user.
    QString refusal;
    // Little-endian value, `width` bytes of it used.
    quint8 bytes[4] = {};
    int width = 0;

    bool accepted() const { return refusal.isEmpty(); }
};

// Parses `text` for a register of `displayCode` that is `width` bytes wide:
// code 0 takes a byte as 0x-hexadecimal or decimal, code 1 an unsigned decimal,
// code 2 a real for a 32-bit float. A real the float cannot hold as typed (too
// large, or so small it would lose its digits or become 0) is refused rather
// than written as something else.
RegisterText parseRegisterText(int displayCode, int width, const QString &text);

// The same for the catalogue register starting at `address`; refuses addresses
// where no register starts and read-only registers.
RegisterText parseRegisterTextAt(int address, const QString &text);
