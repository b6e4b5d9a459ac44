// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <vector>

// Cuts the bytes the module receives into requests: AA 01 address count (read)
// and AA 00 address length data (write). Anything else is skipped byte by byte
// until the next 0xAA. A request that stays incomplete for longer than the
// idle limit is dropped, so a sender that died mid-request cannot make the
// module swallow the next one.
class RequestParser
{
public:
    struct Request
    {
        bool write = false;
        quint8 address = 0;
        quint8 count = 0; // bytes to read, or bytes of data that came with a write
        QByteArray data; // write data
    };

    static constexpr double idleLimitSeconds = 0.2;

    // Feeds received bytes that arrived at `now` (seconds) and returns the
    // requests they complete, in order.
    std::vector<Request> feed(const char *bytes, int length, double now);
    bool midRequest() const { return m_state != State::Idle; }
    quint64 skippedBytes() const { return m_skipped; }

private:
    enum class State { Idle, Kind, Address, Count, Data };
    State m_state = State::Idle;
    Request m_pending;
    double m_lastByteAt = 0;
    quint64 m_skipped = 0;
};
