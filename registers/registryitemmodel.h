// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

// One register of the module as an object the interface binds to. It never talks to
// the link: the backend stores decoded values into it, the register page reads them.
class RegistryItemModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int modelDataType READ modelDataType NOTIFY modelDataTypeChanged)
    Q_PROPERTY(QString registerName READ registerName NOTIFY registerNameChanged)
    Q_PROPERTY(QString description READ description NOTIFY descriptionChanged)
    Q_PROPERTY(QVariant data READ data WRITE setData NOTIFY dataChanged)
    Q_PROPERTY(QStringList choices READ choices NOTIFY choicesChanged)
    Q_PROPERTY(int choicesCount READ choicesCount NOTIFY choicesCountChanged)
    Q_PROPERTY(bool writeAccess READ writeAccess NOTIFY writeAccessChanged)
    Q_PROPERTY(bool updated READ updated NOTIFY updatedChanged)
    Q_PROPERTY(int address READ address NOTIFY addressChanged)
    // The value a factory reset writes; invalid for a register it leaves alone.
    Q_PROPERTY(QVariant factoryDefault READ factoryDefault CONSTANT)

public:
    // What the QML engine uses when it creates a RegisterModel on its own.
    explicit RegistryItemModel(QObject *parent = nullptr);
    RegistryItemModel(QObject *parent, int address, int modelDataType, const QString &registerName,
        bool writeAccess, const QString &description, const QStringList &choices);

    int modelDataType() const { return m_modelDataType; }
    QString registerName() const { return m_registerName; }
    QString description() const { return m_description; }
    QVariant data() const { return m_data; }
    QStringList choices() const { return m_choices; }
    int choicesCount() const { return m_choices.size(); }
    bool writeAccess() const { return m_writeAccess; }
    bool updated() const { return m_updated; }
    int address() const { return m_address; }
    QVariant factoryDefault() const { return m_factoryDefault; }
    // Set once, before the interface binds to it.
    void setFactoryDefault(const QVariant &value) { m_factoryDefault = value; }

    // Edit from the interface: marks the register as touched but does not flash the
    // cell (no dataChanged) and sends nothing to the module.
    void setData(const QVariant &value);
    // A value decoded from the module. Every store emits, equal value or not, so the
    // register page flashes the cell on each arrival.
    void setDataFromModule(const QVariant &value);

signals:
    void modelDataTypeChanged();
    void registerNameChanged();
    void descriptionChanged();
    void dataChanged();
    void choicesChanged();
    void choicesCountChanged();
    void writeAccessChanged();
    void addressChanged();
    void dataUpdatedFromModule();
    void updatedChanged();

private:
    int m_modelDataType = 0;
    QString m_registerName;
    QString m_description;
    QVariant m_data;
    QStringList m_choices;
    bool m_writeAccess = false;
    int m_address = 0;
    bool m_updated = false;
    QVariant m_factoryDefault;
};
