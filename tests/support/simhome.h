// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "modulesimulator.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A simulated module on a pseudo-terminal and a fresh folder to stand for the
// user's home, for the tests that run the application's parts (or its
// programs) against the module and look at what they keep.
struct SimulatedModuleHome
{
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<ModuleSimulator> sim;

    // Makes both; empty when done, else why not.
    QString start(const ModuleSimulator::Options &options = {})
    {
        home = std::make_unique<QTemporaryDir>();
        if (!home->isValid())
            return QStringLiteral("no temporary folder: %1").arg(home->errorString());
        sim = std::make_unique<ModuleSimulator>(options);
        QString error;
        if (!sim->start(&error))
            return QStringLiteral("the simulator does not start: %1").arg(error);
        return QString();
    }
    // This process keeps its data (and, with `settingsToo`, its settings) in
    // the fresh home and lists the simulator's port.
    void useInThisProcess(bool settingsToo = false) const
    {
        qputenv("XDG_DATA_HOME", home->path().toLocal8Bit());
        if (settingsToo)
            qputenv("XDG_CONFIG_HOME", home->path().toLocal8Bit());
        qputenv("VELMAR_EXTRA_PORTS", sim->slavePath().toLocal8Bit());
    }
    void stop()
    {
        sim.reset();
        home.reset();
    }
};
