// SPDX-License-Identifier: GPL-3.0-or-later
#include "sourceFeed.h"

#include <QDebug>

SourceFeed::SourceFeed(Take take, QObject *parent)
    : QObject(parent)
    , m_take(std::move(take))
{ }

bool SourceFeed::setSource(QObject *source)
{
    if (source == m_source)
        return false;
    m_source = source;
    follow();
    return true;
}

bool SourceFeed::setPropertyName(const QString &name)
{
    if (name == m_propertyName)
        return false;
    m_propertyName = name;
    follow();
    return true;
}

void SourceFeed::follow()
{
    disconnect(m_connection);
    m_property = QMetaProperty();
    if (!m_source || m_propertyName.isEmpty())
        return;
    const QMetaObject *meta = m_source->metaObject();
    const int index = meta->indexOfProperty(m_propertyName.toLatin1().constData());
    if (index < 0 || !meta->property(index).hasNotifySignal()) {
        qWarning() << "CustomPlotItem: no list property with a change signal named"
                   << m_propertyName << "on" << m_source;
        return;
    }
    m_property = meta->property(index);
    const int slot = metaObject()->indexOfSlot("take()");
    m_connection = QMetaObject::connect(m_source, m_property.notifySignalIndex(), this, slot);
}

void SourceFeed::take()
{
    if (m_source)
        m_take(m_property.read(m_source).toList());
}
