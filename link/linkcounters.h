// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// What the frame cutter has seen since the connection began. Every byte that
// reached it is in exactly one of frameBytes, statusBytes, noiseBytes or still
// pending, so the four add up to bytesReceived.
struct LinkCounters
{
    quint64 bytesReceived = 0; // appended to the cutter's buffer
    quint64 frames = 0; // data frames taken into the register image
    quint64 frameBytes = 0; // their bytes, headers included
    quint64 statusMessages = 0;
    quint64 statusBytes = 0;
    quint8 lastStatus = 0; // value of the latest status message, if any
    quint64 noiseBytes = 0; // dropped: not part of a message that was taken
    // Messages whose rest never came: their head was given up after the wait.
    quint64 cutFrames = 0;
    // Frame headers the module cannot have sent (their bytes are in noiseBytes).
    quint64 rejectedHeaders = 0;
    // Data frames taken but never handed to the backend one by one: more came
    // between two dispatch passes than the link keeps (StoredFrames::limit).
    quint64 framesNotDispatched = 0;
    quint64 pendingBytes = 0; // waiting in the cutter's buffer
    // "Control1" as last written or read back in this connection; -1 unknown.
    int streamingMode = -1;
};
