// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaObject>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <functional>

// Follows one list property of another object: each change signal of that
// property reads the list, in C++, and hands it on. What a chart is fed from
// when a sample must not pass through JavaScript on its way.
class SourceFeed : public QObject
{
    Q_OBJECT

public:
    using Take = std::function<void(const QVariantList &)>;
    explicit SourceFeed(Take take, QObject *parent = nullptr);

    QObject *source() const { return m_source; }
    // Both return whether anything changed; the property must have a change
    // signal, or nothing is followed (and a warning says why).
    bool setSource(QObject *source);
    QString propertyName() const { return m_propertyName; }
    bool setPropertyName(const QString &name);

private slots:
    void take();

private:
    void follow();

    Take m_take;
    QPointer<QObject> m_source;
    QString m_propertyName;
    QMetaProperty m_property;
    QMetaObject::Connection m_connection;
};
