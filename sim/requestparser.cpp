// SPDX-License-Identifier: GPL-3.0-or-later
#include "requestparser.h"

namespace {
constexpr quint8 requestStart = 0xAA;
constexpr quint8 kindWrite = 0x00;
constexpr quint8 kindRead = 0x01;
} // namespace

std::vector<RequestParser::Request> RequestParser::feed(const char *bytes, int length, double now)
{
    std::vector<Request> done;
    if (m_state != State::Idle && now - m_lastByteAt > idleLimitSeconds)
        m_state = State::Idle;
    m_lastByteAt = now;

    for (int i = 0; i < length; ++i) {
        const quint8 byte = quint8(bytes[i]);
        switch (m_state) {
        case State::Idle:
            if (byte == requestStart)
                m_state = State::Kind;
            else
                ++m_skipped;
            break;
        case State::Kind:
            if (byte == kindRead || byte == kindWrite) {
                m_pending = Request {};
                m_pending.write = byte == kindWrite;
                m_state = State::Address;
            } else if (byte != requestStart) {
                m_skipped += 2;
                m_state = State::Idle;
            } else {
                ++m_skipped; // the earlier 0xAA led nowhere; this one may
            }
            break;
        case State::Address:
            m_pending.address = byte;
            m_state = State::Count;
            break;
        case State::Count:
            m_pending.count = byte;
            if (!m_pending.write || byte == 0) {
                done.push_back(m_pending);
                m_state = State::Idle;
            } else {
                m_pending.data.reserve(byte);
                m_state = State::Data;
            }
            break;
        case State::Data:
            m_pending.data.append(char(byte));
            if (m_pending.data.size() == m_pending.count) {
                done.push_back(m_pending);
                m_state = State::Idle;
            }
            break;
        }
    }
    return done;
}
