// SPDX-License-Identifier: GPL-3.0-or-later
#include "registerobjects.h"

RegisterObjects createRegisterObjects(QObject *parent)
{
    RegisterObjects objects {};
    for (int row = 0; row < registerCount; ++row) {
        const RegisterInfo &info = registerCatalogue[row];
        objects[row] = new RegistryItemModel(parent, info.address, info.displayCode,
            QString::fromLatin1(info.name), info.writable, QString::fromLatin1(info.description),
            QStringList());
        if (info.writable)
            objects[row]->setFactoryDefault(info.defaultValue);
    }
    return objects;
}
