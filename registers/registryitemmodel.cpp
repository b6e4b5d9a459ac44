// SPDX-License-Identifier: GPL-3.0-or-later
#include "registryitemmodel.h"

RegistryItemModel::RegistryItemModel(QObject *parent)
    : RegistryItemModel(parent, 0, 0, QStringLiteral("No Name"), false,
        QStringLiteral("No Description"), QStringList())
{ }

RegistryItemModel::RegistryItemModel(QObject *parent, int address, int modelDataType,
    const QString &registerName, bool writeAccess, const QString &description,
    const QStringList &choices)
    : QObject(parent)
    , m_modelDataType(modelDataType)
    , m_registerName(registerName)
    , m_description(description)
    , m_data(0)
    , m_choices(choices)
    , m_writeAccess(writeAccess)
    , m_address(address)
{ }

void RegistryItemModel::setData(const QVariant &value)
{
    m_data = value;
    m_updated = true;
    emit updatedChanged();
}

void RegistryItemModel::setDataFromModule(const QVariant &value)
{
    m_data = value;
    m_updated = true;
    emit updatedChanged();
    emit dataChanged();
    emit dataUpdatedFromModule();
}
