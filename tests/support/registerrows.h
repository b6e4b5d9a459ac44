// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "durUzaBackend.h"
#include "registryitemmodel.h"

#include <QString>

namespace backendtest {

// The register page's row of the register `name`; null if there is none.
inline RegistryItemModel *registerNamed(DurUzaBackend &backend, const QString &name)
{
    for (QObject *object : backend.registers()) {
        auto *item = qobject_cast<RegistryItemModel *>(object);
        if (item && item->registerName() == name)
            return item;
    }
    return nullptr;
}

} // namespace backendtest
