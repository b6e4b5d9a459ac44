// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Converts a raw recording into the measurement CSV offline, through the live
// link's frame cutter and the module decoder, so that every row holds exactly
// what the live pages would have shown for that frame. A recording that holds
// the requests the session sent is cut by the live rules (noise the session
// rejected stays out); an older one takes every whole frame. No event loop.
struct RecordingCsvResult
{
    bool ok = false;
    QString error; // why nothing (or not everything) was converted
    QString warning; // converted, but something in the file deserves a word
    qint64 rows = 0; // measurement frames written
    qint64 frames = 0; // data frames the recording held
};

RecordingCsvResult convertRecordingToCsv(const QString &rawPath, const QString &csvPath);
