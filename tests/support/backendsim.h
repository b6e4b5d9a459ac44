// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registerrows.h"

#include "modulesimulator.h"

#include <QtTest>

// The backend against the simulated module, as a user drives the register page.
namespace backendtest {

// Connects to the simulator's port and waits until the connect sequence's
// reads were answered (the identity and the last register block are in).
inline void connectToSim(DurUzaBackend &backend, const ModuleSimulator &sim)
{
    const QStringList ports = backend.availablePortsList();
    const int index = ports.indexOf(sim.slavePath());
    QVERIFY(index >= 0);
    backend.connectClicked(index);
    QTRY_COMPARE_WITH_TIMEOUT(
        registerNamed(backend, QStringLiteral("Hardware Version"))->data(), QVariant(1442), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(
        registerNamed(backend, QStringLiteral("ACC_MAG_EFF"))->data(), QVariant(0x0A), 15000);
}

// Edits a register as the register page does and waits for its read-back.
inline void editRegister(
    DurUzaBackend &backend, const QString &name, const QString &text, const QVariant &held)
{
    RegistryItemModel *row = registerNamed(backend, name);
    QVERIFY(backend.writeRegisterText(row->address(), text));
    QTRY_COMPARE_WITH_TIMEOUT(row->data(), held, 10000);
}

} // namespace backendtest
