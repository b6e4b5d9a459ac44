// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "record.h"

// A CSV row written straight into a caller's buffer, the same text as
// csvRow() gives, without building a string per row: converting hours of a
// recording spends its time here.
namespace decode {

// Room a row may need, however long its numbers.
constexpr int csvRowCapacity = 512;

// Writes the row with its trailing newline at `out`, which has at least
// csvRowCapacity bytes; returns the end of what was written.
char *writeCsvRow(char *out, const MeasurementFrame &frame);

} // namespace decode
