// SPDX-License-Identifier: GPL-3.0-or-later
#include "moduleidentity.h"

#include "backendlog.h"

#include <array>

namespace {

// "Device ID", "Hardware Version", "Software Version".
constexpr std::array<int, 3> identityAddresses = {RegisterMap::DeviceId.address,
    RegisterMap::HardwareVersion.address, RegisterMap::SoftwareVersion.address};
constexpr int identityComplete = 0x7;

QString identityText(const CalIdentity &identity)
{
    return QStringLiteral("device 0x%1, hardware %2, software %3")
        .arg(identity.deviceId, 2, 16, QLatin1Char('0'))
        .arg(identity.hardwareVersion)
        .arg(identity.softwareVersion);
}

} // namespace

ModuleIdentity::ModuleIdentity(const RegisterObjects &rows, QObject *parent)
    : QObject(parent)
    , m_rows(rows)
{
    for (std::size_t bit = 0; bit < identityAddresses.size(); ++bit) {
        connect(m_rows[std::size_t(registerRowAt(identityAddresses[bit]))],
            &RegistryItemModel::dataUpdatedFromModule, this,
            [this, bit] { onRowAnswered(int(bit)); });
    }
}

bool ModuleIdentity::holdsStreamedHeader(const quint8 *bytes, int size)
{
    for (int i = 0; i + 3 <= size; ++i) {
        if (bytes[i] != 0xBB)
            continue;
        for (const RegisterMap::StreamedBlock &streamed : RegisterMap::StreamedBlocks) {
            if (bytes[i + 1] == streamed.block.address && bytes[i + 2] == streamed.block.count)
                return true;
        }
    }
    return false;
}

void ModuleIdentity::linkOpened(const QString &port)
{
    m_answered = 0;
    m_port = port;
    // The connect sequence reads the whole map; that answer is the first reading.
    m_stage = Stage::Map;
    m_attempts = 1;
    m_candidate = CalIdentity();
    m_confirmed = CalIdentity();
}

void ModuleIdentity::linkLost()
{
    m_answered = 0;
    m_port.clear();
    m_stage = Stage::Map;
    m_attempts = 1;
    m_candidate = CalIdentity();
    m_confirmed = CalIdentity();
}

CalIdentity ModuleIdentity::current() const
{
    return m_stage == Stage::Confirmed ? m_confirmed : CalIdentity();
}

CalIdentity ModuleIdentity::fromRows() const
{
    CalIdentity identity;
    identity.known = true;
    identity.deviceId = m_rows[std::size_t(registerRowAt(identityAddresses[0]))]->data().toInt();
    identity.hardwareVersion
        = m_rows[std::size_t(registerRowAt(identityAddresses[1]))]->data().toInt();
    identity.softwareVersion
        = m_rows[std::size_t(registerRowAt(identityAddresses[2]))]->data().toInt();
    return identity;
}

void ModuleIdentity::onRowAnswered(int bit)
{
    m_answered |= 1 << bit;
    if (m_answered != identityComplete)
        return;
    m_answered = 0;
    switch (m_stage) {
    case Stage::Map:
        m_candidate = fromRows();
        if (!m_reader || !m_suspicion || !m_suspicion()) {
            m_confirmed = m_candidate;
            m_stage = Stage::Confirmed;
            emit complete();
            return;
        }
        qCInfo(lcBackend) << "identity read as" << identityText(m_candidate)
                          << "while the module streamed; reading it again to confirm";
        m_stage = Stage::Check;
        m_reader(RegisterMap::Whole);
        return;
    case Stage::Check: {
        const CalIdentity checked = fromRows();
        if (checked == m_candidate) {
            m_confirmed = checked;
            m_stage = Stage::Confirmed;
            qCInfo(lcBackend) << "module identity confirmed:" << identityText(checked);
            emit complete();
            return;
        }
        qCWarning(lcBackend) << "identity read as" << identityText(m_candidate) << "then as"
                             << identityText(checked) << "; reading the map again";
        if (m_attempts >= MaxAttempts) {
            m_stage = Stage::GaveUp;
            emit notConfirmed(tr("The module's identity could not be confirmed: %1 reads "
                                 "disagreed. Nothing is saved or written until it is.")
                                  .arg(2 * m_attempts));
            return;
        }
        ++m_attempts;
        m_stage = Stage::Map;
        if (m_reader)
            m_reader(RegisterMap::Whole);
        return;
    }
    case Stage::Confirmed:
    case Stage::GaveUp:
        return;
    }
}
