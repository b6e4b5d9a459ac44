// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QQuickItem>
#include <QSet>
#include <QString>

// Finding QML items by objectName in a loaded interface. Items reach their
// place through both object and visual parents (stack and swipe views reparent
// their pages), so both trees are searched, breadth first.
namespace quicktree {

inline QList<QObject *> findAllNamed(QObject *root, const QString &name)
{
    QList<QObject *> found;
    QList<QObject *> queue {root};
    QSet<QObject *> seen;
    while (!queue.isEmpty()) {
        QObject *object = queue.takeFirst();
        if (!object || seen.contains(object))
            continue;
        seen.insert(object);
        if (object->objectName() == name)
            found << object;
        queue << object->children();
        if (auto *item = qobject_cast<QQuickItem *>(object)) {
            for (QQuickItem *child : item->childItems())
                queue << child;
        }
    }
    return found;
}

// The nearest object of that name, or null.
inline QObject *findNamed(QObject *root, const QString &name)
{
    const QList<QObject *> found = findAllNamed(root, name);
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace quicktree
