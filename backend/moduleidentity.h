// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibrationrun.h"
#include "registermap.h"
#include "registerobjects.h"

#include <QObject>
#include <QString>

#include <functional>

// Which module is on the line: "Device ID", "Hardware Version" and "Software
// Version" as read in the current connection, and the port it is on. Saved
// calibration parameters go back only to the module they came from.
//
// A module left streaming sends measurement bytes that can look like the
// answer to the whole-map read. When the link saw such a stream, one answer
// proves nothing: the identity counts only once a second read of the map
// agrees on it (two answers cut out of a stream do not), and when they differ
// the map is read again.
class ModuleIdentity : public QObject
{
    Q_OBJECT

public:
    // Map reads given up after, each with its confirming read.
    static constexpr int MaxAttempts = 4;

    using Reader = std::function<void(RegisterSpan span)>;
    // True when the bytes received so far may have held frames nobody asked
    // for (a stream), so that an answer may have been cut out of them.
    using Suspicion = std::function<bool()>;

    // Watches the three identity rows of `rows`, which must be filled already.
    explicit ModuleIdentity(const RegisterObjects &rows, QObject *parent = nullptr);

    // How the confirming reads reach the module; none set, nothing is ever confirmed.
    void setReader(Reader reader) { m_reader = std::move(reader); }
    // Without one (or a reader), a single read counts.
    void setSuspicion(Suspicion suspicion) { m_suspicion = std::move(suspicion); }

    // Whether `bytes` hold the header of a block the module streams: a map
    // answer that does was likely cut out of the stream.
    static bool holdsStreamedHeader(const quint8 *bytes, int size);

    // Identity and offers count only for what this connection reads.
    void linkOpened(const QString &port);
    void linkLost();

    // Known once read in this connection, and confirmed by a second read if
    // the first may have been cut out of a stream.
    CalIdentity current() const;
    QString port() const { return m_port; }

signals:
    // The identity of this connection is confirmed.
    void complete();
    // The reads kept disagreeing; nothing that needs the identity goes ahead.
    void notConfirmed(const QString &why);

private:
    enum class Stage { Map, Check, Confirmed, GaveUp };
    void onRowAnswered(int bit);
    CalIdentity fromRows() const;

    const RegisterObjects &m_rows;
    Reader m_reader;
    Suspicion m_suspicion;
    // Identity registers read since the stage began, one bit each.
    int m_answered = 0;
    // Before any connection the rows count as read (tools and tests feed them).
    Stage m_stage = Stage::Map;
    int m_attempts = 1;
    CalIdentity m_candidate;
    CalIdentity m_confirmed;
    QString m_port;
};
