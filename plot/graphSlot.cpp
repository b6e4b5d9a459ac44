// SPDX-License-Identifier: GPL-3.0-or-later
#include "graphSlot.h"

#include <QDebug>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>

namespace {

// Marks a kept graph among the content item's children with its document.
const char sourceKey[] = "velmarGraphSource";

QQuickItem *homeOf(const QQuickItem *graph)
{
    return qobject_cast<QQuickItem *>(graph->parent());
}

// What a previous visit left in the graph's scatter series.
void emptySeries(QQuickItem *graph)
{
    using namespace QtDataVisualization;
    const QList<QScatter3DSeries *> all = graph->findChildren<QScatter3DSeries *>();
    for (QScatter3DSeries *series : all) {
        if (series->dataProxy() && series->dataProxy()->itemCount() > 0)
            series->dataProxy()->resetArray(new QScatterDataArray);
    }
}

} // namespace

GraphSlot::GraphSlot(QQuickItem *parent)
    : QQuickItem(parent)
{ }

GraphSlot::~GraphSlot()
{
    for (const QMetaObject::Connection &watch : qAsConst(m_watches))
        disconnect(watch);
    // Deleted while still in the window: the graph goes home without leaving it.
    m_moving = true;
    giveBack();
}

void GraphSlot::setSource(const QUrl &source)
{
    if (source == m_source)
        return;
    giveBack();
    m_source = source;
    emit sourceChanged();
    borrow();
}

QQuickItem *GraphSlot::keptGraph(const QQuickWindow *window, const QUrl &source)
{
    if (!window || !window->contentItem())
        return nullptr;
    const QObjectList children = window->contentItem()->children();
    for (QObject *child : children) {
        if (child->property(sourceKey).toUrl() == source)
            return qobject_cast<QQuickItem *>(child);
    }
    return nullptr;
}

void GraphSlot::componentComplete()
{
    QQuickItem::componentComplete();
    watchAncestors();
    borrow();
}

void GraphSlot::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change != ItemSceneChange)
        return;
    // Left with this slot all the same (a window closing takes its items out
    // from the top): the graph goes back if its window is still there.
    if (m_graph) {
        const QQuickItem *home = homeOf(m_graph);
        if (!value.window || !home || home->window() != value.window)
            giveBack();
    }
    if (value.window)
        borrow();
}

void GraphSlot::geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChanged(newGeometry, oldGeometry);
    if (m_graph)
        m_graph->setSize(newGeometry.size());
}

void GraphSlot::watchAncestors()
{
    for (const QMetaObject::Connection &watch : qAsConst(m_watches))
        disconnect(watch);
    m_watches.clear();
    m_chain.clear();
    for (QQuickItem *item = this; item; item = item->parentItem()) {
        m_chain.append(item);
        m_watches.append(
            connect(item, &QQuickItem::parentChanged, this, &GraphSlot::ancestryChanged));
        if (item != this)
            m_watches.append(
                connect(item, &QQuickItem::childrenChanged, this, &GraphSlot::checkAncestry));
    }
}

bool GraphSlot::ancestryIntact() const
{
    for (int i = 0; i + 1 < m_chain.size(); ++i) {
        const QQuickItem *child = m_chain[i];
        const QQuickItem *parent = m_chain[i + 1];
        if (!child || !parent || !parent->childItems().contains(const_cast<QQuickItem *>(child)))
            return false;
    }
    return true;
}

void GraphSlot::checkAncestry()
{
    // Emitted by the old parent once the child is out of its list, before the
    // child leaves the window: the last moment the graph can go home directly.
    if (!m_graph || ancestryIntact())
        return;
    m_moving = true;
    giveBack();
}

void GraphSlot::ancestryChanged()
{
    m_moving = false;
    watchAncestors();
    borrow();
    settle();
}

void GraphSlot::settle()
{
    if (m_moving || m_graph == m_announced)
        return;
    m_announced = m_graph;
    emit graphChanged();
}

QQuickItem *GraphSlot::createGraph(QQuickItem *home)
{
    QQmlEngine *engine = qmlEngine(this);
    if (!engine) {
        qWarning() << "GraphSlot: no engine to create" << m_source;
        return nullptr;
    }
    QQmlComponent component(engine, m_source, QQmlComponent::PreferSynchronous);
    if (!component.isReady()) {
        qWarning() << "GraphSlot:" << component.errors();
        return nullptr;
    }
    // The root context, not the page's: the graph outlives every page.
    QObject *object = component.beginCreate(engine->rootContext());
    auto *graph = qobject_cast<QQuickItem *>(object);
    if (!graph) {
        qWarning() << "GraphSlot:" << m_source << "is not an Item";
        delete object;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(graph, QQmlEngine::CppOwnership);
    graph->setProperty(sourceKey, m_source);
    graph->setParent(home);
    graph->setVisible(false);
    graph->setParentItem(home);
    component.completeCreate();
    return graph;
}

void GraphSlot::borrow()
{
    if (m_graph || !isComponentComplete() || m_source.isEmpty() || !window())
        return;
    QQuickItem *graph = keptGraph(window(), m_source);
    if (!graph)
        graph = createGraph(window()->contentItem());
    if (!graph)
        return;
    // Another slot of this window holds it: the newest one shows it.
    if (auto *holder = qobject_cast<GraphSlot *>(graph->parentItem()))
        holder->giveBack();
    emptySeries(graph);
    graph->setParentItem(this);
    graph->setPosition(QPointF());
    graph->setSize(size());
    graph->setVisible(true);
    m_graph = graph;
    settle();
}

void GraphSlot::giveBack()
{
    QQuickItem *graph = m_graph.data();
    m_graph.clear();
    if (graph) {
        graph->setVisible(false);
        emptySeries(graph);
        // Not into a window being torn down: it goes with the window.
        QQuickItem *home = homeOf(graph);
        if (home && home->window())
            graph->setParentItem(home);
    }
    settle();
}
