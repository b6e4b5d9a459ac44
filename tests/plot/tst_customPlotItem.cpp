// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot.h"

#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QtTest>
#include <qcustomplot.h>

#include <memory>

class TestCustomPlotItem : public QObject
{
    Q_OBJECT

private:
    qint64 fakeNowMs = 0;

    std::unique_ptr<CustomPlotItem> makeItem(const QStringList &names, qreal w = 300, qreal h = 200)
    {
        auto item = std::make_unique<CustomPlotItem>();
        item->setWidth(w);
        item->setHeight(h);
        item->setSignalNames(names);
        return item;
    }

    static QVector<double> keysOf(QCPGraph *graph)
    {
        QVector<double> keys;
        for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
            keys << it->key;
        return keys;
    }

    static void tick(CustomPlotItem *item)
    {
        QVERIFY(QMetaObject::invokeMethod(item, "resetFlags"));
    }

private slots:
    void init()
    {
        fakeNowMs = 1000;
        PlotClock::shared().setTimeSourceForTesting([this] { return fakeNowMs; });
        CustomPlotItem::setReplotEverySample(false);
    }

    void cleanup()
    {
        PlotClock::shared().setTimeSourceForTesting({});
        CustomPlotItem::setReplotEverySample(false);
        RenderPolicy::shared().setSoftware(false);
    }

    void keysKeepMillisecondsAfterDaysOfRunning_data()
    {
        QTest::addColumn<qint64>("startMs");
        QTest::newRow("past 10^5 s") << qint64(100000000);
        QTest::newRow("past 10^6 s (11.6 days)") << qint64(1000000000);
    }

    void keysKeepMillisecondsAfterDaysOfRunning()
    {
        QFETCH(qint64, startMs);
        auto item = makeItem({"A"});
        item->setData({0.0}); // starts the shared clock at key 0
        // Samples 3 ms apart, as at the line limit, long after the start.
        for (int i = 1; i <= 20; ++i) {
            fakeNowMs = 1000 + startMs + 3 * i;
            item->setData({i});
        }
        tick(item.get()); // trims the first point, days out of the window
        const QVector<double> keys = keysOf(item->customPlot()->graph(0));
        QCOMPARE(keys.size(), 20);
        for (int i = 0; i < keys.size(); ++i) {
            const double expected = (startMs + 3.0 * (i + 1)) / 1000.0;
            QVERIFY2(qAbs(keys.at(i) - expected) < 1e-6,
                qPrintable(QStringLiteral("key %1: %2, expected %3")
                               .arg(i)
                               .arg(keys.at(i), 0, 'f', 6)
                               .arg(expected, 0, 'f', 6)));
        }
    }

    void dataIsWriteOnlyWithoutChangeSignal()
    {
        const QMetaObject &meta = CustomPlotItem::staticMetaObject;
        const int index = meta.indexOfProperty("data");
        QVERIFY(index >= 0);
        const QMetaProperty property = meta.property(index);
        QVERIFY(property.isWritable());
        QVERIFY(!property.isReadable());
        QVERIFY(!property.hasNotifySignal());
        QCOMPARE(meta.indexOfSignal("dataChanged()"), -1);
    }

    void qmlBindingFeedsTheWriteOnlyData()
    {
        qmlRegisterType<CustomPlotItem>("CustomPlot", 1, 0, "CustomPlotItem");
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import CustomPlot 1.0\n"
                          "CustomPlotItem { width: 200; height: 100; signalNames: [\"A\", \"B\"];\n"
                          "  property var source: [1, 2]; data: source }",
            QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        auto *item = qobject_cast<CustomPlotItem *>(object.get());
        QVERIFY(item);
        // The first list may come before the curves exist; the next one counts.
        const int before = item->customPlot()->graph(1)->dataCount();
        fakeNowMs += 10;
        object->setProperty("source", QVariantList {3, 4});
        QCOMPARE(item->customPlot()->graph(1)->dataCount(), before + 1);
        QCOMPARE(item->customPlot()->graph(1)->data()->at(before)->value, 4.0);
    }

    void tickerStopsWhenDataStops()
    {
        PlotClock::shared().setTimeSourceForTesting({});
        PlotTicker &ticker = PlotTicker::shared();
        auto first = makeItem({"A"});
        auto second = makeItem({"B"});
        QSignalSpy firstReplots(first->customPlot(), &QCustomPlot::afterReplot);
        QSignalSpy secondReplots(second->customPlot(), &QCustomPlot::afterReplot);
        first->setData({1.0});
        second->setData({1.0});
        QVERIFY(ticker.isActive());
        first->setData({2.0});
        second->setData({2.0});
        QCOMPARE(firstReplots.count(), 1);
        // A tick draws the pending points of both charts; a later one finds
        // nothing new and stops the timer: no periodic work remains.
        QTRY_VERIFY_WITH_TIMEOUT(!ticker.isActive(), 5000);
        QVERIFY(firstReplots.count() >= 2);
        QVERIFY(secondReplots.count() >= 2);
        const int firstCount = firstReplots.count();
        const int secondCount = secondReplots.count();
        ticker.tick();
        QCoreApplication::processEvents();
        QCOMPARE(firstReplots.count(), firstCount);
        QCOMPARE(secondReplots.count(), secondCount);
        QVERIFY(!ticker.isActive());

        // New data wakes it and is drawn, on that chart only.
        first->setData({3.0});
        QVERIFY(ticker.isActive());
        QCOMPARE(firstReplots.count(), firstCount + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!ticker.isActive(), 5000);
        QCOMPARE(secondReplots.count(), secondCount);
    }

    void softwareRenderingTicksAtTwentyHertz()
    {
        RenderPolicy::shared().setSoftware(true);
        QCOMPARE(PlotTicker::shared().intervalMs(), 50);
        RenderPolicy::shared().setSoftware(false);
        QCOMPARE(PlotTicker::shared().intervalMs(), 30);
    }

    void hiddenChartKeepsItsWindowWithoutReplotting()
    {
        auto item = makeItem({"A"});
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        item->setVisible(false);
        // 20 s at 100 samples a second while hidden.
        for (int step = 0; step <= 2000; ++step) {
            fakeNowMs = 1000 + step * 10;
            item->setData({step});
            if (step % 5 == 0)
                PlotTicker::shared().tick();
        }
        QCOMPARE(replots.count(), 0);
        QVERIFY(!PlotTicker::shared().isActive());
        // Trimmed all the same, to about the last 8 s.
        const QVector<double> keys = keysOf(item->customPlot()->graph(0));
        QVERIFY2(keys.first() >= 20.0 - CustomPlotItem::windowSeconds - 1.01,
            qPrintable(QString::number(keys.first())));

        // Shown again, the next tick draws what arrived meanwhile.
        item->setVisible(true);
        QVERIFY(PlotTicker::shared().isActive());
        PlotTicker::shared().tick();
        QCOMPARE(replots.count(), 1);
        QVERIFY(
            keysOf(item->customPlot()->graph(0)).first() >= 20.0 - CustomPlotItem::windowSeconds);
    }

    void chartInMinimisedWindowDoesNotReplot()
    {
        // The offscreen platform has no OpenGL; the chart does not need it.
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
        QQuickWindow window;
        window.resize(300, 200);
        auto *item = new CustomPlotItem;
        // As QML does it: the parent after construction.
        item->setParentItem(window.contentItem());
        item->setWidth(300);
        item->setHeight(200);
        item->setSignalNames({"A"});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        item->setData({1.0});
        QCOMPARE(replots.count(), 1);

        window.showMinimized();
        QTRY_COMPARE_WITH_TIMEOUT(window.visibility(), QWindow::Minimized, 5000);
        PlotTicker::shared().tick(); // the idle tick that stops the ticker
        for (int i = 0; i < 10; ++i) {
            fakeNowMs += 10;
            item->setData({i});
            PlotTicker::shared().tick();
        }
        QCOMPARE(replots.count(), 1);
        QVERIFY(!PlotTicker::shared().isActive());

        window.showNormal();
        QTRY_VERIFY_WITH_TIMEOUT(PlotTicker::shared().isActive(), 5000);
        PlotTicker::shared().tick();
        QCOMPARE(replots.count(), 2);
    }

    void curvesTakePensByPositionModuloEight_data()
    {
        QTest::addColumn<int>("curveCount");
        QTest::newRow("four curves") << 4;
        QTest::newRow("nine curves") << 9;
    }

    void curvesTakePensByPositionModuloEight()
    {
        QFETCH(int, curveCount);
        const QList<QColor> expected = {
            QColor(57, 106, 177),
            QColor(218, 124, 48),
            QColor(62, 150, 81),
            QColor(204, 37, 41),
            QColor(83, 81, 84),
            QColor(107, 76, 154),
            QColor(146, 36, 40),
            QColor(148, 139, 61),
        };
        QStringList names;
        for (int i = 0; i < curveCount; ++i)
            names << QStringLiteral("S%1").arg(i);
        auto item = makeItem(names);
        QCustomPlot *plot = item->customPlot();
        QVERIFY(plot);
        QCOMPARE(plot->graphCount(), curveCount);
        for (int i = 0; i < curveCount; ++i) {
            const QPen pen = plot->graph(i)->pen();
            QCOMPARE(plot->graph(i)->name(), names.at(i));
            QCOMPARE(pen.color(), expected.at(i % 8));
            QCOMPARE(pen.width(), 2);
            QCOMPARE(pen.capStyle(), Qt::SquareCap);
            QCOMPARE(pen.joinStyle(), Qt::BevelJoin);
        }
        QVERIFY(plot->legend->visible());
    }

    void surplusValuesAreIgnoredAndShortListsFeedLeadingCurves()
    {
        auto item = makeItem({"X", "Y", "Z"});
        QCustomPlot *plot = item->customPlot();
        item->setData({1.0, 2.0, 3.0, 4.0, 5.0});
        for (int i = 0; i < 3; ++i)
            QCOMPARE(plot->graph(i)->dataCount(), 1);
        QCOMPARE(plot->graph(2)->data()->at(0)->value, 3.0);

        item->setData({7.0, 8.0});
        QCOMPARE(plot->graph(0)->dataCount(), 2);
        QCOMPARE(plot->graph(1)->dataCount(), 2);
        QCOMPARE(plot->graph(2)->dataCount(), 1);
    }

    void entryThatIsNotANumberIsPlottedAsZero()
    {
        auto item = makeItem({"A", "B"});
        item->setData({QStringLiteral("not a number"), 1.5});
        QCOMPARE(item->customPlot()->graph(0)->data()->at(0)->value, 0.0);
        QCOMPARE(item->customPlot()->graph(1)->data()->at(0)->value, 1.5);
    }

    void dataBeforeAnyPlotIsStoredButNotPlotted()
    {
        CustomPlotItem item;
        item.setData({1.0, 2.0});
        QCOMPARE(item.lastData(), QVariantList({1.0, 2.0}));
        QVERIFY(!item.customPlot());
        QVERIFY(!PlotClock::shared().isStarted());

        item.setSignalNames({"A", "B"});
        QCOMPARE(item.customPlot()->graph(0)->dataCount(), 0);
        item.setData({3.0, 4.0});
        QCOMPARE(item.customPlot()->graph(1)->data()->at(0)->value, 4.0);
    }

    void initCustomPlotCreatesPlotWithoutCurves()
    {
        CustomPlotItem item;
        item.setWidth(120);
        item.setHeight(80);
        QVERIFY(QMetaObject::invokeMethod(&item, "initCustomPlot"));
        QVERIFY(item.customPlot());
        QCOMPARE(item.customPlot()->graphCount(), 0);
        QCOMPARE(item.customPlot()->size(), QSize(120, 80));
    }

    void curvesKeepOnlyTheLastEightSeconds()
    {
        auto item = makeItem({"A", "B", "C"});
        QCustomPlot *plot = item->customPlot();
        // 20 s of samples every 10 ms, with a replot tick every 30 ms.
        for (int step = 0; step <= 2000; ++step) {
            fakeNowMs = 1000 + step * 10;
            item->setData({step, -step, 0.5});
            if (step % 3 == 0)
                tick(item.get());
        }
        tick(item.get());
        for (int i = 0; i < 3; ++i) {
            const QVector<double> keys = keysOf(plot->graph(i));
            QVERIFY(!keys.isEmpty());
            QVERIFY(qAbs(keys.last() - 20.0) < 1e-3);
            QVERIFY2(keys.first() >= keys.last() - CustomPlotItem::windowSeconds,
                qPrintable(QString::number(keys.first())));
            // About 8 s worth at 100 samples per second: trimming keeps the window full.
            QVERIFY(keys.size() >= 790 && keys.size() <= 810);
        }
        // Axes follow the kept points.
        QVERIFY(plot->xAxis->range().lower >= 12.0 - 1e-3);
        QVERIFY(qAbs(plot->xAxis->range().upper - 20.0) < 1e-3);
    }

    void chartsShareOneClockStartedByFirstData()
    {
        auto first = makeItem({"A"});
        fakeNowMs = 5000;
        first->setData({1.0});
        QCOMPARE(first->customPlot()->graph(0)->data()->at(0)->key, 0.0);

        fakeNowMs = 7500;
        auto second = makeItem({"B"});
        second->setData({2.0});
        QCOMPARE(second->customPlot()->graph(0)->data()->at(0)->key, 2.5);
    }

    void resizingResizesPlotToWholePixels()
    {
        auto item = makeItem({"A"});
        item->setWidth(201.7);
        item->setHeight(99.9);
        QCOMPARE(item->customPlot()->size(), QSize(201, 99));
        QCOMPARE(item->customPlot()->geometry().topLeft(), QPoint(0, 0));
    }

    void replotsAtMostOncePerTick()
    {
        auto item = makeItem({"A", "B"});
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        for (int i = 0; i < 100; ++i) {
            fakeNowMs += 1;
            item->setData({i, i});
        }
        QCOMPARE(replots.count(), 1);
        QCOMPARE(item->customPlot()->graph(0)->dataCount(), 100);

        // A tick shows the points that arrived since the last replot...
        tick(item.get());
        QCOMPARE(replots.count(), 2);
        // ...and a tick with nothing new does not replot.
        tick(item.get());
        QCOMPARE(replots.count(), 2);
        // The next sample after an idle tick replots at once.
        item->setData({1, 1});
        QCOMPARE(replots.count(), 3);
    }

    void replotTimerRunsOnItsOwn()
    {
        PlotClock::shared().setTimeSourceForTesting({});
        auto item = makeItem({"A"});
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        item->setData({1.0});
        item->setData({2.0});
        QCOMPARE(replots.count(), 1);
        // The second point is drawn by the timer's tick, without further data.
        QTRY_COMPARE_WITH_TIMEOUT(replots.count(), 2, 5000);
    }

    void replotEverySampleModeReplotsEachWrite()
    {
        CustomPlotItem::setReplotEverySample(true);
        auto item = makeItem({"A"});
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        for (int i = 0; i < 10; ++i)
            item->setData({i});
        QCOMPARE(replots.count(), 10);
    }

    void paintDrawsThePlot()
    {
        auto item = makeItem({"A"});
        item->setData({1.0});
        QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            item->paint(&painter);
        }
        // The plot's white background replaced the black fill.
        QCOMPARE(image.pixelColor(1, 1), QColor(Qt::white));
    }

    void paintedFrameFollowsResize()
    {
        auto item = makeItem({"A"}, 100, 80);
        item->setData({1.0});
        item->setWidth(300);
        item->setHeight(200);
        QCOMPARE(item->customPlot()->viewport(), QRect(0, 0, 300, 200));
        tick(item.get()); // nothing new: still the old frame
        item->setData({2.0});
        QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            item->paint(&painter);
        }
        // Beyond the old 100 x 80 frame, the new one reaches the corner.
        QCOMPARE(image.pixelColor(298, 198), QColor(Qt::white));
        QCOMPARE(item->customPlot()->axisRect()->outerRect().right() > 250, true);
    }

    void paintWithoutPlotDrawsNothing()
    {
        CustomPlotItem item;
        item.setWidth(50);
        item.setHeight(50);
        QImage image(50, 50, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            item.paint(&painter);
        }
        QCOMPARE(image.pixelColor(25, 25), QColor(Qt::black));
    }

    void mouseEventsArePostedToThePlot()
    {
        struct OpenItem : CustomPlotItem
        {
            using CustomPlotItem::mousePressEvent;
        } item;
        item.setWidth(100);
        item.setHeight(100);
        item.setSignalNames({"A"});
        int presses = 0;
        QPointF pressedAt;
        connect(item.customPlot(), &QCustomPlot::mousePress, this, [&](QMouseEvent *event) {
            ++presses;
            pressedAt = event->localPos();
        });
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 20), Qt::LeftButton, Qt::LeftButton,
            Qt::ShiftModifier);
        item.mousePressEvent(&press);
        QCOMPARE(presses, 0); // posted, not delivered at once
        QTRY_COMPARE_WITH_TIMEOUT(presses, 1, 5000);
        QCOMPARE(pressedAt, QPointF(10, 20));
    }

    void graphClickedEmitsSignal()
    {
        auto item = makeItem({"A"});
        QSignalSpy clicked(item.get(), &CustomPlotItem::graphClickedSignal);
        QCPAbstractPlottable *graph = item->customPlot()->graph(0);
        QVERIFY(QMetaObject::invokeMethod(
            item.get(), "graphClicked", Q_ARG(QCPAbstractPlottable *, graph)));
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(TestCustomPlotItem)
#include "tst_customPlotItem.moc"
