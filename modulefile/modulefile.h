// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A module's settings as a file: its identity, the three calibration blocks and
// every writable register, as JSON. Written by Export and by the automatic
// backups, read back by Import and Restore. A file is taken whole or refused
// whole with one reason: nothing of a refused file reaches the module.
//
// Format, version 1 (UTF-8 JSON, one object):
//
//   {
//     "format": "velmar-module-file",
//     "formatVersion": 1,
//     "savedAt": "2026-12-08T08:01:02.345Z",         UTC, ISO 8601
//     "application": "velmar-cli 0.1.0",             what wrote it
//     "trigger": "export",                           why it was written
//     "module": {"deviceId": 90, "hardwareVersion": 1442, "softwareVersion": 210},
//     "calibration": {
//       "accelerometer": {"offset": [x, y, z], "matrix": [9 reals, row by row],
//                         "quality": 93},             quality optional, 0..100
//       "gyroscope":     {"offset": [x, y, z]},
//       "magnetometer":  {"offset": [x, y, z], "matrix": [9 reals]}
//     },
//     "registers": {"Control1": "0x85", "ACC Offset X": 0.0125, ...}
//   }
//
// "registers" names writable registers by their catalogue name; bytes are
// written as "0x.." text, reals as JSON numbers (the shortest text that reads
// back to the same 32-bit float). A reader takes a byte as "0x.." or a whole
// number and a real as a number or number text, by the same rules as the
// register page. A real the module held that is not finite is written as the
// text "nan", "inf" or "-inf" so that a backup keeps it; reading refuses it.
// The calibration blocks repeat the calibration registers in a shape meant for
// people; when both are given they must agree. A file may list fewer registers
// (a hand-made one, say): only those are compared and written.

#include "registercatalogue.h"
#include "registermap.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <array>
#include <bitset>

namespace ModuleFileFormat {
constexpr const char *formatName = "velmar-module-file";
constexpr int version = 1;
} // namespace ModuleFileFormat

struct ModuleFileIdentity
{
    int deviceId = -1;
    int hardwareVersion = -1;
    int softwareVersion = -1;

    bool isKnown() const { return deviceId >= 0 && hardwareVersion >= 0 && softwareVersion >= 0; }
    // "device 0x5A, hardware 1442, software 210"
    QString text() const;
};

// The calibration blocks, in the order the file and the tools name them.
enum class CalibrationBlock { Accelerometer, Gyroscope, Magnetometer };
constexpr int calibrationBlockCount = 3;
// "accelerometer", "gyroscope", "magnetometer": the file's keys and --only's words.
const char *calibrationBlockName(CalibrationBlock block);
// The registers the block covers (offsets, and the matrix where there is one).
RegisterSpan calibrationBlockSpan(CalibrationBlock block);

struct ModuleFile
{
    ModuleFileIdentity identity;
    QDateTime savedAt; // UTC
    QString application; // "velmar-cli 0.1.0"
    QString trigger; // "export", "before gyroscope calibration", ...
    // Bytes 52..175 as the module held them (or as the file gives them).
    std::array<quint8, RegisterMap::Writable.count> writable {};
    // Catalogue rows the file gives a value for; a written file gives them all.
    std::bitset<registerCount> present;
    // Per calibration block, 0..100; negative where not known.
    std::array<double, calibrationBlockCount> quality {{-1.0, -1.0, -1.0}};

    // A file of everything writable in `image` (the 176-byte register space).
    static ModuleFile fromImage(const quint8 *image, const ModuleFileIdentity &identity);

    bool has(int row) const { return present.test(std::size_t(row)); }
    // The file's bytes of the register at `row` (a writable catalogue row).
    const quint8 *bytesOf(int row) const;
    // The file's bytes from `address` on (a writable address).
    const quint8 *bytesAt(int address) const;
    float realOf(int row) const;
};

// The file's text. Never fails: values that JSON cannot hold are written as text.
QByteArray writeModuleFile(const ModuleFile &file);

struct ModuleFileReading
{
    bool ok = false;
    ModuleFile file;
    // Why the file is refused, in one sentence; empty when ok.
    QString refusal;
};

// Reads and checks a file's text. Refuses the whole file on the first fault:
// malformed JSON, another format or a newer version, a missing identity, an
// unknown or read-only register, a value that does not parse or does not fit
// its register, a calibration value that is not finite or differs from its
// register, a quality outside 0..100.
ModuleFileReading readModuleFile(const QByteArray &text);
ModuleFileReading readModuleFile(const QString &path);

// Whether `file` may be written to the module with `identity`: only to the
// hardware version it came from. Empty when it may; otherwise why not.
QString compatibilityRefusal(const ModuleFile &file, const ModuleFileIdentity &identity);

// One register of a file against what the module holds.
struct RegisterComparison
{
    int row = -1;
    QString name;
    QString fileText; // as the register page shows values
    QString moduleText;
    bool differs = false;
};

// The rows set in `rows`, in runs of neighbours, each as the span one write
// request covers: writing them in the fewest requests, in address order.
QVector<RegisterSpan> writeRuns(const std::bitset<registerCount> &rows);

// Each register the file gives, in catalogue order, against `image` (176 bytes).
QVector<RegisterComparison> compareWithImage(const ModuleFile &file, const quint8 *image);

// A register's bytes as text: "0x85" for bytes, the number for the 16-bit
// words, the shortest round-trip text for reals ("nan", "inf" as such).
QString registerValueText(int row, const quint8 *bytes);
// A real as the shortest text that reads back to the same float.
QString floatValueText(float value);

// The rows of a calibration block, or of the named register; for --only and the
// import table. Empty when `word` names neither.
QVector<int> rowsNamed(const QString &word);
