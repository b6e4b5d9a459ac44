// SPDX-License-Identifier: GPL-3.0-or-later
#include "soakprobe.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace {
bool outsideCheckedContent(int address)
{
    // The stamp itself, and the temperature, which drifts.
    return address == 0x0C || address == 0x0D || address == 0x18 || address == 0x19;
}
} // namespace

void StampTracker::setReference(const quint8 *image)
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::copy_n(image + frameStart, frameLength, m_reference.begin());
    m_hasReference = true;
}

bool StampTracker::contentMatches(const quint8 *image) const
{
    if (!m_hasReference)
        return true;
    for (int i = 0; i < frameLength; ++i) {
        const int address = frameStart + i;
        if (!outsideCheckedContent(address) && image[address] != m_reference[std::size_t(i)])
            return false;
    }
    return true;
}

void StampTracker::guardOutside()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_guardArmed = true;
    m_totals.guarding = false;
}

void StampTracker::endGuard()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_guardArmed = false;
    m_totals.guarding = false;
}

std::vector<int> StampTracker::changedAddresses() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<int> addresses;
    for (int a = 0; a < imageSize; ++a) {
        if (m_changed[std::size_t(a)])
            addresses.push_back(a);
    }
    return addresses;
}

void StampTracker::watchOutside(const quint8 *image)
{
    if (!m_guardArmed)
        return;
    auto outside = [](int a) { return a < frameStart || a >= frameStart + frameLength; };
    if (!m_totals.guarding) {
        std::copy_n(image, imageSize, m_outside.begin());
        m_totals.guarding = true;
        return;
    }
    bool changed = false;
    for (int a = 0; a < imageSize; ++a) {
        if (outside(a) && image[a] != m_outside[std::size_t(a)]) {
            m_changed[std::size_t(a)] = true;
            m_outside[std::size_t(a)] = image[a];
            changed = true;
        }
    }
    m_totals.outsideChanges += changed ? 1 : 0;
}

void StampTracker::look(const quint8 *image)
{
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_totals.looks;
    watchOutside(image);
    if (!contentMatches(image)) {
        ++m_totals.corrupt;
        return;
    }
    const int stamp = int(image[stampAddress]) | (int(image[stampAddress + 1]) << 8);
    if (stamp > stampCycle) {
        ++m_totals.corrupt;
        return;
    }
    if (stamp == 0) {
        // Stamps start at 1; a still module's gyroscope reads 0 in a read answer.
        ++m_totals.answers;
        return;
    }
    if (stamp == m_last) {
        ++m_totals.repeats;
        return;
    }
    const int step = ((stamp - m_last) % stampCycle + stampCycle) % stampCycle;
    if (m_last != 0 && step > stampCycle / 2) {
        ++m_totals.backwards;
        return;
    }
    const int advance = m_last == 0 ? stamp : step;
    m_totals.skipped += quint64(advance - 1);
    m_totals.lastStamp += quint64(advance);
    ++m_totals.fresh;
    m_last = stamp;
}

StampTracker::Totals StampTracker::totals() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_totals;
}

long residentKilobytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields.at(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}
