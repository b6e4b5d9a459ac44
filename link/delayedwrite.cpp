// SPDX-License-Identifier: GPL-3.0-or-later
#include "delayedwrite.h"

#include "comshandler.h"
#include "linklog.h"

DelayedWrite::DelayedWrite(
    int delayMs, const quint8 *data, int length, ComsHandler *handler, QObject *parent)
    : QObject(parent)
    , m_bytes(reinterpret_cast<const char *>(data), qMax(0, length))
    , m_handler(handler)
{
    // The write path takes at most 255 bytes at a time.
    if (m_bytes.size() > 255) {
        qCWarning(lcLink) << "delayed frame of" << m_bytes.size() << "bytes cut to 255";
        m_bytes.truncate(255);
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &DelayedWrite::onTimeout);
    m_timer.start(delayMs);
}

void DelayedWrite::onTimeout()
{
    m_handler->sendFrame(
        reinterpret_cast<const quint8 *>(m_bytes.constData()), quint8(m_bytes.size()));
    m_bytes.clear();
    deleteLater();
}
