// SPDX-License-Identifier: GPL-3.0-or-later
// GraphSlot: the window keeps one graph per document and lends it to the slot
// shown; a slot that goes hands it back hidden and emptied.
#include "graphSlot.h"

#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>
#include <QtTest>

#include <memory>

using QtDataVisualization::QScatter3DSeries;

class GraphSlotTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void slotsOfOneWindowShareOneGraph();
    void graphGoesHomeWhenItsSlotLeavesTheWindow();
    void pageMovedWithinTheWindowKeepsTheGraph();
    void nextVisitFindsTheSeriesEmpty();
    void newestSlotShowsTheGraph();
    void eachWindowKeepsItsOwnGraph();

private:
    // A slot for the graph document, created in `window` (parented to its
    // content item, or to `parent`) as a page would hold it.
    QQuickItem *makeSlot(QQuickWindow &window, QQuickItem *parent = nullptr);
    QScatter3DSeries *seriesOf(QQuickItem *graph) const;

    QTemporaryDir dir;
    QUrl graphUrl;
    QQmlEngine engine;
};

void GraphSlotTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("Graph.qml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("import QtQuick 2.12\n"
               "import QtDataVisualization 1.2\n"
               "Item {\n"
               "    objectName: \"graph\"\n"
               "    property alias series: points\n"
               "    Scatter3DSeries { id: points }\n"
               "}\n");
    file.close();
    graphUrl = QUrl::fromLocalFile(file.fileName());
}

QQuickItem *GraphSlotTest::makeSlot(QQuickWindow &window, QQuickItem *parent)
{
    QQmlComponent component(&engine);
    component.setData("import CustomPlot 1.0\nGraphSlot { width: 300; height: 200 }", QUrl());
    auto *slot = qobject_cast<QQuickItem *>(component.beginCreate(engine.rootContext()));
    if (!slot) {
        qWarning() << component.errors();
        return nullptr;
    }
    slot->setParentItem(parent ? parent : window.contentItem());
    slot->setProperty("source", graphUrl);
    component.completeCreate();
    return slot;
}

QScatter3DSeries *GraphSlotTest::seriesOf(QQuickItem *graph) const
{
    return graph ? graph->property("series").value<QScatter3DSeries *>() : nullptr;
}

void GraphSlotTest::slotsOfOneWindowShareOneGraph()
{
    QQuickWindow window;
    QQuickItem *first = makeSlot(window);
    QVERIFY(first);
    QPointer<QQuickItem> graph = first->property("graph").value<QQuickItem *>();
    QVERIFY(graph);
    QCOMPARE(GraphSlot::keptGraph(&window, graphUrl), graph.data());
    QCOMPARE(graph->parentItem(), first);
    QVERIFY(graph->isVisible());
    QCOMPARE(graph->size(), QSizeF(300, 200));
    first->setSize(QSizeF(640, 480));
    QCOMPARE(graph->size(), QSizeF(640, 480));

    delete first; // the page goes
    QVERIFY2(graph, "the window keeps the graph");
    QVERIFY(!graph->isVisible());
    QCOMPARE(graph->parentItem(), window.contentItem());
    QCOMPARE(graph->window(), &window);

    QQuickItem *second = makeSlot(window);
    QCOMPARE(second->property("graph").value<QQuickItem *>(), graph.data());
    QCOMPARE(graph->parentItem(), second);
    QVERIFY(graph->isVisible());
    int graphs = 0;
    for (QObject *child : window.contentItem()->children())
        graphs += child->objectName() == QLatin1String("graph");
    QCOMPARE(graphs, 1);
}

void GraphSlotTest::graphGoesHomeWhenItsSlotLeavesTheWindow()
{
    QQuickWindow window;
    auto *page = new QQuickItem(window.contentItem());
    QQuickItem *slot = makeSlot(window, page);
    QVERIFY(slot);
    QPointer<QQuickItem> graph = slot->property("graph").value<QQuickItem *>();
    QVERIFY(graph);
    QSignalSpy changed(slot, SIGNAL(graphChanged()));
    QSignalSpy windowChanged(graph.data(), &QQuickItem::windowChanged);

    // As a Loader lets go of its page before deleting it later.
    page->setParentItem(nullptr);
    QCOMPARE(windowChanged.count(), 0); // home before the page left the window
    QCOMPARE(changed.count(), 1);
    QVERIFY(!slot->property("graph").value<QQuickItem *>());
    QVERIFY(graph);
    QCOMPARE(graph->parentItem(), window.contentItem());
    QCOMPARE(graph->window(), &window);
    QVERIFY(!graph->isVisible());
    delete page;
    QVERIFY(graph);
}

void GraphSlotTest::pageMovedWithinTheWindowKeepsTheGraph()
{
    QQuickWindow window;
    auto *stack = new QQuickItem(window.contentItem());
    auto *page = new QQuickItem(window.contentItem());
    QQuickItem *slot = makeSlot(window, page);
    QQuickItem *graph = slot->property("graph").value<QQuickItem *>();
    QVERIFY(graph);
    QSignalSpy changed(slot, SIGNAL(graphChanged()));
    QSignalSpy windowChanged(graph, &QQuickItem::windowChanged);

    // As a StackView takes the page it is pushed.
    page->setParentItem(stack);
    QCOMPARE(graph->parentItem(), slot);
    QVERIFY(graph->isVisible());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(windowChanged.count(), 0);

    // And the chain is watched from its new place.
    page->setParentItem(nullptr);
    QCOMPARE(graph->parentItem(), window.contentItem());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(windowChanged.count(), 0);
    delete page;
}

void GraphSlotTest::nextVisitFindsTheSeriesEmpty()
{
    QQuickWindow window;
    QQuickItem *slot = makeSlot(window);
    QScatter3DSeries *series = seriesOf(slot->property("graph").value<QQuickItem *>());
    QVERIFY(series);
    auto *points = new QtDataVisualization::QScatterDataArray;
    points->append(QtDataVisualization::QScatterDataItem(QVector3D(0.1f, 0.2f, 0.3f)));
    points->append(QtDataVisualization::QScatterDataItem(QVector3D(0.4f, 0.5f, 0.6f)));
    series->dataProxy()->resetArray(points);
    QCOMPARE(series->dataProxy()->itemCount(), 2);

    delete slot;
    QCOMPARE(series->dataProxy()->itemCount(), 0);
    slot = makeSlot(window);
    QCOMPARE(seriesOf(slot->property("graph").value<QQuickItem *>()), series);
    QCOMPARE(series->dataProxy()->itemCount(), 0);
}

void GraphSlotTest::newestSlotShowsTheGraph()
{
    QQuickWindow window;
    QQuickItem *older = makeSlot(window);
    QQuickItem *graph = older->property("graph").value<QQuickItem *>();
    QSignalSpy olderChanged(older, SIGNAL(graphChanged()));
    QQuickItem *newer = makeSlot(window);
    QCOMPARE(newer->property("graph").value<QQuickItem *>(), graph);
    QCOMPARE(olderChanged.count(), 1);
    QVERIFY(!older->property("graph").value<QQuickItem *>());
    QCOMPARE(graph->parentItem(), newer);
    QVERIFY(graph->isVisible());
    // The older slot going does not take it from the newer one.
    delete older;
    QCOMPARE(graph->parentItem(), newer);
    QVERIFY(graph->isVisible());
}

void GraphSlotTest::eachWindowKeepsItsOwnGraph()
{
    auto one = std::make_unique<QQuickWindow>();
    QQuickWindow two;
    QPointer<QQuickItem> first = makeSlot(*one)->property("graph").value<QQuickItem *>();
    QQuickItem *second = makeSlot(two)->property("graph").value<QQuickItem *>();
    QVERIFY(first);
    QVERIFY(second);
    QVERIFY(first.data() != second);
    QCOMPARE(GraphSlot::keptGraph(&two, graphUrl), second);
    one.reset();
    QVERIFY2(!first, "a window's graph goes with the window");
    QCOMPARE(GraphSlot::keptGraph(&two, graphUrl), second);
}

QTEST_MAIN(GraphSlotTest)
#include "tst_graphSlot.moc"
