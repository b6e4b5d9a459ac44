// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registermap.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>

class ComsHandler;

// What the backend asks of the module: request frames sent at once or after a
// delay, the request sequences behind the interface's buttons and pages, and the
// factory reset. Every frame goes through the link, or through a sender set in
// its place. GUI thread only; the link must outlive it.
class ModuleRequests
{
public:
    // Where frames go instead of the link, e.g. into a test's recorder.
    using FrameSender = std::function<void(const quint8 *data, quint8 length)>;

    explicit ModuleRequests(ComsHandler &link);

    // An empty sender restores the link.
    void setFrameSender(FrameSender sender);

    void sendNow(const QByteArray &frame);
    void sendLater(int delayMs, const QByteArray &frame);
    void readNow(RegisterSpan span);
    void readLater(int delayMs, RegisterSpan span);
    void writeControl1(quint8 value);
    void writeControl1Later(int delayMs, quint8 value);
    // Writes `width` bytes at `address`, then reads them back.
    void writeAndReadBack(quint8 address, const quint8 *bytes, quint8 width);

    // The sequences behind the backend's slots of the same names.
    void requestAllData();
    void requestChartData();
    void requestAccOnly();
    void requestGyroOnly();
    void requestMagOnly();
    void requestRangeData();
    void resetDefaults();

private:
    void startSequence(RegisterSpan firstRead, RegisterSpan measurement, quint8 streamingMode);

    ComsHandler &m_link;
    FrameSender m_frameSender;
};
