// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class ComsHandler;

// Sends one request frame after a delay without blocking its caller, then
// deletes itself. The bytes are copied at construction.
class DelayedWrite : public QObject
{
    Q_OBJECT
public:
    DelayedWrite(int delayMs, const quint8 *data, int length, ComsHandler *handler,
        QObject *parent = nullptr);

private:
    void onTimeout();

    QTimer m_timer;
    QByteArray m_bytes;
    ComsHandler *m_handler;
};
