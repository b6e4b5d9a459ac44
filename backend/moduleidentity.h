// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibrationrun.h"
#include "registerobjects.h"

#include <QObject>
#include <QString>

// Which module is on the line: "Device ID", "Hardware Version" and "Software
// Version" as read in the current connection, and the port it is on. Saved
// calibration parameters go back only to the module they came from.
class ModuleIdentity : public QObject
{
    Q_OBJECT

public:
    // Watches the three identity rows of `rows`, which must be filled already.
    explicit ModuleIdentity(const RegisterObjects &rows, QObject *parent = nullptr);

    // Identity and offers count only for what this connection reads.
    void linkOpened(const QString &port);
    void linkLost();

    // Known once all three registers were read in this connection.
    CalIdentity current() const;
    QString port() const { return m_port; }

signals:
    // An identity register came in, and all three have been read in this connection.
    void complete();

private:
    void onRowAnswered(int bit);

    const RegisterObjects &m_rows;
    // Identity registers read in this connection, one bit each.
    int m_answered = 0;
    QString m_port;
};
