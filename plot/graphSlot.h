// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QUrl>
#include <QVector>

class QQuickWindow;

// The place in a page where a graph kept by the window shows. A Qt Data
// Visualization graph drawn the default way (through its offscreen buffer)
// keeps about 11 MB that are not given back when the graph is destroyed: a
// page that made its own graph grew the process by that much on every visit.
// So the window makes one graph per `source` document, the first time a slot
// asks for it, and keeps it for its whole life; the slot shown borrows it.
// When the slot goes (or leaves its window) the graph is hidden, handed back
// to the window and its scatter series are emptied, so that the next visit
// starts from an empty graph as a new one would.
//
// The graph never leaves its window: leaving costs it its drawing resources,
// made again on its return. A page leaves the window by being taken out of its
// parent (a Loader lets go of its item before deleting it later), so the slot
// watches the items between itself and the window, and when one is taken out
// the graph goes home before the page leaves; if the page only moved within the
// window (pushed on a StackView), the graph comes back to it at once.
//
// The graph belongs to the window's content item (its QObject parent) and is
// created in the engine's root context, so nothing of a page it was lent to
// outlives that page inside it.
//
// Exposed to the documents as GraphSlot of "CustomPlot" 1.0.
class GraphSlot : public QQuickItem
{
    Q_OBJECT
    // The document of the graph (its root must be an Item).
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
    // The graph while this slot holds it, else null.
    Q_PROPERTY(QQuickItem *graph READ graph NOTIFY graphChanged)

public:
    explicit GraphSlot(QQuickItem *parent = nullptr);
    ~GraphSlot() override;

    QUrl source() const { return m_source; }
    void setSource(const QUrl &source);
    QQuickItem *graph() const { return m_graph; }

    // The graph `window` keeps for `source`, lent or not; null before a slot
    // in that window asked for it.
    static QQuickItem *keptGraph(const QQuickWindow *window, const QUrl &source);

signals:
    void sourceChanged();
    void graphChanged();

protected:
    void componentComplete() override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;
    void geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    void borrow();
    // Hides the graph and hands it back to its window.
    void giveBack();
    // Emits graphChanged if the graph held is not the one last announced.
    void settle();
    QQuickItem *createGraph(QQuickItem *home);

    // The items from this slot up to the window's content item.
    void watchAncestors();
    bool ancestryIntact() const;
    // An item of the chain has lost a child (possibly one of the chain).
    void checkAncestry();
    // An item of the chain has a new parent (or none).
    void ancestryChanged();

    QUrl m_source;
    QPointer<QQuickItem> m_graph;
    QPointer<QQuickItem> m_announced;
    // Between an item of the chain being taken out and its new parent being
    // known: the graph is home and nothing is announced yet.
    bool m_moving = false;
    QVector<QPointer<QQuickItem>> m_chain;
    QVector<QMetaObject::Connection> m_watches;
};
