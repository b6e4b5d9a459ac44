// SPDX-License-Identifier: GPL-3.0-or-later
#include "moduleidentity.h"

#include "registermap.h"

#include <array>

namespace {

// "Device ID", "Hardware Version", "Software Version".
constexpr std::array<int, 3> identityAddresses = {RegisterMap::DeviceId.address,
    RegisterMap::HardwareVersion.address, RegisterMap::SoftwareVersion.address};
constexpr int identityComplete = 0x7;

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

void ModuleIdentity::linkOpened(const QString &port)
{
    m_answered = 0;
    m_port = port;
}

void ModuleIdentity::linkLost()
{
    m_answered = 0;
    m_port.clear();
}

CalIdentity ModuleIdentity::current() const
{
    CalIdentity identity;
    if (m_answered != identityComplete)
        return identity;
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
    if (m_answered == identityComplete)
        emit complete();
}
