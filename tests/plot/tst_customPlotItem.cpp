// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <qcustomplot.h>

#include <memory>

// Stands in for the backend: one list property with a change signal per sample.
class SampleSource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList samples READ samples NOTIFY samplesChanged)
    Q_PROPERTY(QVariantList silent READ samples CONSTANT)

public:
    QVariantList samples() const { return m_samples; }
    void push(const QVariantList &values)
    {
        m_samples = values;
        emit samplesChanged();
    }

signals:
    void samplesChanged();

private:
    QVariantList m_samples;
};

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

    // Samples every 10 ms from `fromMs` up to and including `toMs` (shared
    // clock time), value = time in seconds, with a tick every 30 ms.
    void stream(CustomPlotItem *item, int fromMs, int toMs)
    {
        for (int ms = fromMs; ms <= toMs; ms += 10) {
            fakeNowMs = 1000 + ms;
            item->setData({ms / 1000.0, -ms / 1000.0});
            if (ms % 30 == 0)
                tick(item);
        }
    }

    // The chart item with its input handlers open to the test.
    struct InputItem : CustomPlotItem
    {
        using CustomPlotItem::mouseDoubleClickEvent;
        using CustomPlotItem::mouseMoveEvent;
        using CustomPlotItem::mousePressEvent;
        using CustomPlotItem::mouseReleaseEvent;
        using CustomPlotItem::wheelEvent;
    };

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

    void softwareModeDrawsCurvesWithoutAntialiasing()
    {
        // Charts made in either mode, and charts made before the mode
        // changes, draw their curves (and legend lines) antialiased only in
        // full mode; axes and grid are never antialiased.
        auto before = makeItem({"A"});
        RenderPolicy::shared().setSoftware(true);
        auto during = makeItem({"A"});
        for (CustomPlotItem *item : {before.get(), during.get()}) {
            const QCP::AntialiasedElements off = item->customPlot()->notAntialiasedElements();
            QVERIFY(off.testFlag(QCP::aePlottables));
            QVERIFY(off.testFlag(QCP::aeLegendItems));
        }
        RenderPolicy::shared().setSoftware(false);
        auto after = makeItem({"A"});
        for (CustomPlotItem *item : {before.get(), during.get(), after.get()})
            QCOMPARE(item->customPlot()->notAntialiasedElements(), QCP::AntialiasedElements());
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

    // Fed by its source rather than a binding, a hidden chart still takes every
    // sample, and shown again draws the last 8 s of them.
    void sourceFeedsEverySampleWhileHiddenAndShowsTheWindowAgain()
    {
        SampleSource source;
        auto item = makeItem({"A", "B"});
        QVERIFY(item->setProperty("source", QVariant::fromValue<QObject *>(&source)));
        QVERIFY(item->setProperty("sourceProperty", QStringLiteral("samples")));
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        item->setVisible(false);
        // 20 s at 100 samples a second while hidden.
        for (int step = 0; step <= 2000; ++step) {
            fakeNowMs = 1000 + step * 10;
            source.push({step, -step});
            if (step % 5 == 0)
                PlotTicker::shared().tick();
        }
        QCOMPARE(replots.count(), 0);
        QCOMPARE(item->lastData(), (QVariantList {2000, -2000}));

        item->setVisible(true);
        PlotTicker::shared().tick();
        QCOMPARE(replots.count(), 1);
        for (int curve = 0; curve < 2; ++curve) {
            const QCPGraph *graph = item->customPlot()->graph(curve);
            const QVector<double> keys = keysOf(item->customPlot()->graph(curve));
            // Every sample of the last 8 s, none missing, none older.
            QCOMPARE(keys.size(), 801);
            QVERIFY2(qAbs(keys.first() - 12.0) < 1e-6, qPrintable(QString::number(keys.first())));
            QCOMPARE(graph->data()->constBegin()->value, curve == 0 ? 1200.0 : -1200.0);
            QCOMPARE((graph->data()->constEnd() - 1)->value, curve == 0 ? 2000.0 : -2000.0);
        }
    }

    void sourceCanBeReplacedAndNeedsAChangeSignal()
    {
        SampleSource first;
        SampleSource second;
        auto item = makeItem({"A"});
        item->setSourceProperty(QStringLiteral("samples"));
        item->setSource(&first);
        fakeNowMs = 1000;
        first.push({1.0});
        item->setSource(&second);
        fakeNowMs = 1010;
        first.push({2.0}); // no longer listened to
        fakeNowMs = 1020;
        second.push({3.0});
        QCOMPARE(keysOf(item->customPlot()->graph(0)).size(), 2);
        QCOMPARE(item->lastData(), (QVariantList {3.0}));

        // A property without a change signal feeds nothing, and says so.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no list property.*silent"));
        item->setSourceProperty(QStringLiteral("silent"));
        fakeNowMs = 1030;
        second.push({4.0});
        QCOMPARE(keysOf(item->customPlot()->graph(0)).size(), 2);
        QCOMPARE(item->lastData(), (QVariantList {3.0}));
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

    void pausedChartHoldsItsViewWhileSamplesArrive()
    {
        auto item = makeItem({"A", "B"});
        QCustomPlot *plot = item->customPlot();
        stream(item.get(), 0, 10000);
        tick(item.get());
        QSignalSpy paused(item.get(), &CustomPlotItem::pausedChanged);
        item->setPaused(true);
        QCOMPARE(paused.count(), 1);
        const QVector<double> held = keysOf(plot->graph(0));
        const QCPRange heldRange = plot->xAxis->range();
        QVERIFY(qAbs(held.last() - 10.0) < 1e-9);

        QSignalSpy replots(plot, &QCustomPlot::afterReplot);
        QSignalSpy ticks(item.get(), &CustomPlotItem::ticked);
        stream(item.get(), 10010, 15000);
        // Nothing redrawn, nothing moved; the page is still told of the stream.
        QCOMPARE(replots.count(), 0);
        QCOMPARE(keysOf(plot->graph(0)), held);
        QCOMPARE(plot->xAxis->range().lower, heldRange.lower);
        QCOMPARE(plot->xAxis->range().upper, heldRange.upper);
        QVERIFY(ticks.count() > 100);

        // Resumed, the chart shows the live window, samples of the pause included.
        item->setPaused(false);
        QCOMPARE(paused.count(), 2);
        const QVector<double> live = keysOf(plot->graph(0));
        QVERIFY(qAbs(live.last() - 15.0) < 1e-9);
        QVERIFY2(live.first() >= 15.0 - CustomPlotItem::windowSeconds - 1e-9,
            qPrintable(QString::number(live.first())));
        QVERIFY(live.size() >= 799 && live.size() <= 801);
        QCOMPARE(plot->graph(1)->data()->at(live.size() - 1)->value, -15.0);
        QVERIFY(qAbs(plot->xAxis->range().upper - 15.0) < 1e-9);
        QVERIFY(replots.count() >= 1);
    }

    void longPauseKeepsOnlyTheLiveWindowBehindIt()
    {
        auto item = makeItem({"A", "B"});
        QCustomPlot *plot = item->customPlot();
        stream(item.get(), 0, 2000);
        item->setPaused(true);
        const int held = plot->graph(0)->dataCount();
        // A minute at 100 samples a second behind the held view.
        stream(item.get(), 2010, 62000);
        QCOMPARE(plot->graph(0)->dataCount(), held);
        item->setPaused(false);
        const QVector<double> live = keysOf(plot->graph(0));
        QVERIFY(qAbs(live.last() - 62.0) < 1e-9);
        QVERIFY(live.first() >= 62.0 - CustomPlotItem::windowSeconds - 1e-9);
        QVERIFY(live.size() <= 801);
    }

    void pausedChartWithNoDataLeavesTheTickerIdle()
    {
        PlotTicker &ticker = PlotTicker::shared();
        auto item = makeItem({"A"});
        item->setData({1.0});
        item->setPaused(true);
        ticker.tick(); // takes in the point that woke it
        ticker.tick(); // finds nothing new
        QVERIFY(!ticker.isActive());
        QSignalSpy replots(item->customPlot(), &QCustomPlot::afterReplot);
        // Zooming draws once per gesture, and wakes nothing.
        item->zoomAt(150, 100, 0.5);
        QCOMPARE(replots.count(), 1);
        QVERIFY(!ticker.isActive());
    }

    void zoomPanAndResetActOnlyOnAPausedChart()
    {
        auto item = makeItem({"A", "B"});
        QCustomPlot *plot = item->customPlot();
        stream(item.get(), 0, 8000);
        tick(item.get());
        const QCPRange live = plot->xAxis->range();
        item->zoomAt(150, 100, 0.5);
        item->panBy(40, 0);
        QCOMPARE(plot->xAxis->range().lower, live.lower);
        QCOMPARE(plot->xAxis->range().upper, live.upper);
        QVERIFY(!item->zoomed());

        item->setPaused(true);
        const QCPRange full = plot->xAxis->range();
        const QCPRange fullValues = plot->yAxis->range();
        QSignalSpy zoomed(item.get(), &CustomPlotItem::zoomedChanged);
        const double atPointer = plot->xAxis->pixelToCoord(150);
        item->zoomAt(150, 100, 0.5);
        QVERIFY(item->zoomed());
        QCOMPARE(zoomed.count(), 1);
        QVERIFY(qAbs(plot->xAxis->range().size() - full.size() / 2) < 1e-9);
        // The time under the pointer stays under it.
        QVERIFY(qAbs(plot->xAxis->pixelToCoord(150) - atPointer) < 1e-9);
        QCOMPARE(plot->yAxis->range().lower, fullValues.lower);

        item->zoomAt(150, 100, 0.5, true);
        QVERIFY(qAbs(plot->yAxis->range().size() - fullValues.size() / 2) < 1e-9);

        // Dragging right by a tenth of the plot area shows earlier times.
        const QCPRange before = plot->xAxis->range();
        const double tenth = plot->axisRect()->width() / 10.0;
        item->panBy(tenth, 0);
        QVERIFY(qAbs(plot->xAxis->range().lower - (before.lower - before.size() / 10)) < 1e-9);

        item->resetView();
        QVERIFY(!item->zoomed());
        QCOMPARE(zoomed.count(), 2);
        QVERIFY(qAbs(plot->xAxis->range().lower - full.lower) < 1e-9);
        QVERIFY(qAbs(plot->xAxis->range().upper - full.upper) < 1e-9);
        QVERIFY(qAbs(plot->yAxis->range().size() - fullValues.size()) < 1e-9);

        // Resuming drops the zoom and follows the stream again.
        item->zoomAt(150, 100, 0.25);
        item->setPaused(false);
        QVERIFY(!item->zoomed());
        stream(item.get(), 8010, 9000);
        tick(item.get());
        QVERIFY(qAbs(plot->xAxis->range().upper - 9.0) < 1e-9);
    }

    void wheelAndDragZoomAndPanOnlyWhilePaused()
    {
        InputItem item;
        item.setWidth(300);
        item.setHeight(200);
        item.setSignalNames({"A"});
        QCustomPlot *plot = item.customPlot();
        stream(&item, 0, 4000);
        tick(&item);
        const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(QPointF(150, 100), QPointF(150, 100), QPoint(), QPoint(0, delta),
                Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            item.wheelEvent(&event);
            return event.isAccepted();
        };

        // Unpaused, the wheel is not the chart's.
        const QCPRange live = plot->xAxis->range();
        QVERIFY(!wheel(120, Qt::NoModifier));
        QCOMPARE(plot->xAxis->range().size(), live.size());

        item.setPaused(true);
        const QCPRange full = plot->xAxis->range();
        const QCPRange fullValues = plot->yAxis->range();
        QVERIFY(wheel(120, Qt::NoModifier));
        QVERIFY(plot->xAxis->range().size() < full.size() * 0.9);
        QCOMPARE(plot->yAxis->range().size(), fullValues.size());
        QVERIFY(wheel(120, Qt::ControlModifier));
        QVERIFY(plot->yAxis->range().size() < fullValues.size() * 0.9);
        // A notch back undoes a notch.
        const double zoomedSize = plot->xAxis->range().size();
        wheel(120, Qt::NoModifier);
        wheel(-120, Qt::NoModifier);
        QVERIFY(qAbs(plot->xAxis->range().size() - zoomedSize) < 1e-9);

        // A drag pans and holds on to the pointer; a double-click resets.
        const double lower = plot->xAxis->range().lower;
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        item.mousePressEvent(&press);
        QVERIFY(press.isAccepted());
        QVERIFY(item.keepMouseGrab());
        QMouseEvent move(
            QEvent::MouseMove, QPointF(160, 100), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        item.mouseMoveEvent(&move);
        QVERIFY(plot->xAxis->range().lower < lower);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(160, 100), Qt::LeftButton,
            Qt::NoButton, Qt::NoModifier);
        item.mouseReleaseEvent(&release);
        QVERIFY(!item.keepMouseGrab());
        // The paused chart keeps its gestures to itself: the plot gets none.
        int forwarded = 0;
        connect(plot, &QCustomPlot::mousePress, this, [&] { ++forwarded; });
        QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(160, 100), Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        item.mouseDoubleClickEvent(&doubleClick);
        QVERIFY(!item.zoomed());
        QVERIFY(qAbs(plot->xAxis->range().lower - full.lower) < 1e-9);
        QCoreApplication::processEvents();
        QCOMPARE(forwarded, 0);
    }

    void valueAxisShowsWhatAndInWhichUnit_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("axis");
        QTest::newRow("label and unit")
            << "Acceleration" << QStringLiteral("m/s²") << QStringLiteral("Acceleration (m/s²)");
        QTest::newRow("unit alone") << "" << QStringLiteral("°/s") << QStringLiteral("°/s");
        QTest::newRow("no unit") << "Unit quaternion"
                                 << ""
                                 << "Unit quaternion";
    }

    void valueAxisShowsWhatAndInWhichUnit()
    {
        QFETCH(QString, label);
        QFETCH(QString, unit);
        QFETCH(QString, axis);
        CustomPlotItem item;
        // Set before the plot exists, as QML may; the plot made later shows them.
        item.setValueLabel(label);
        item.setUnit(unit);
        item.setSignalNames({"A"});
        QCOMPARE(item.customPlot()->yAxis->label(), axis);
        // And a change reaches the plot there is.
        item.setUnit(QStringLiteral("gauss"));
        QVERIFY(item.customPlot()->yAxis->label().contains(QStringLiteral("gauss")));
    }

    void csvUnitsAreAscii_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("column");
        QTest::newRow("degrees") << QStringLiteral("°") << "deg";
        QTest::newRow("degrees per second") << QStringLiteral("°/s") << "deg/s";
        QTest::newRow("metres per second squared") << QStringLiteral("m/s²") << "m/s2";
        QTest::newRow("degrees Celsius") << QStringLiteral("°C") << "C";
        QTest::newRow("gauss") << "gauss"
                               << "gauss";
        QTest::newRow("none") << ""
                              << "";
    }

    void csvUnitsAreAscii()
    {
        QFETCH(QString, unit);
        QFETCH(QString, column);
        QCOMPARE(CustomPlotItem::csvUnit(unit), column);
    }

    void csvHoldsTheShownRangeOnly()
    {
        auto item = makeItem({"Acc_X", "Acc_Y"});
        item->setUnit(QStringLiteral("m/s²"));
        const QList<QPair<int, QVariantList>> samples = {
            {0, {1.5, -3.0}}, // the first sample starts the clock: time 0
            {1000, {0.1, 2.25}},
            {1500, {7.0}}, // a short list: the second curve has no sample here
            {2000, {-0.5, 4.0}},
            {8000, {9.0, 9.0}},
        };
        for (const auto &sample : samples) {
            fakeNowMs = 1000 + sample.first;
            item->setData(sample.second);
        }
        item->setPaused(true);
        item->customPlot()->xAxis->setRange(0.5, 2.0);
        QCOMPARE(QString::fromUtf8(item->visibleCsv()),
            QStringLiteral("time_s,Acc_X_m/s2,Acc_Y_m/s2\n"
                           "1.000,0.1,2.25\n"
                           "1.500,7,\n"
                           "2.000,-0.5,4\n"));
    }

    void exportsWriteFilesOrSayWhyNot()
    {
        auto item = makeItem({"A"}, 320, 180);
        stream(item.get(), 0, 1000);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString png = dir.filePath(QStringLiteral("chart.png"));
        QCOMPARE(item->savePng(png), QString());
        QImageReader reader(png);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(320, 180));

        const QString csv = dir.filePath(QStringLiteral("chart.csv"));
        QCOMPARE(item->saveCsv(csv), QString());
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), item->visibleCsv());
        QVERIFY(item->visibleCsv().count('\n') > 50);

        // Into a folder that is not there: nothing written, a reason given.
        const QString missing = dir.filePath(QStringLiteral("no/such/folder/chart"));
        QVERIFY(!item->savePng(missing + QStringLiteral(".png")).isEmpty());
        QVERIFY(!item->saveCsv(missing + QStringLiteral(".csv")).isEmpty());
        QVERIFY(!QFile::exists(missing + QStringLiteral(".png")));
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
