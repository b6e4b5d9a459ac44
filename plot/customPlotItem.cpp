// SPDX-License-Identifier: GPL-3.0-or-later
#include "customPlotItem.h"

#include "boxView.h"
#include "graphSlot.h"
#include "plotClock.h"
#include "plotTicker.h"
#include "renderPolicy.h"

#include <QCoreApplication>
#include <QDebug>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickWindow>
#include <qcustomplot.h>

#include <cmath>

namespace {

QPen makePen(int r, int g, int b)
{
    return QPen(QBrush(QColor(r, g, b)), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

const QList<QPen> &graphPens()
{
    static const QList<QPen> pens = {
        makePen(57, 106, 177),
        makePen(218, 124, 48),
        makePen(62, 150, 81),
        makePen(204, 37, 41),
        makePen(83, 81, 84),
        makePen(107, 76, 154),
        makePen(146, 36, 40),
        makePen(148, 139, 61),
    };
    return pens;
}

int &replotEverySampleSetting()
{
    // -1: not decided yet, read the environment on first use.
    static int setting = -1;
    return setting;
}

// Here rather than beside RenderPolicy, since every process that shows charts
// links this file: the documents load the same in the application, its tests
// and its benchmarks.
void registerRenderPolicy()
{
    qmlRegisterSingletonInstance("CustomPlot", 1, 0, "RenderPolicy", &RenderPolicy::shared());
    qmlRegisterType<BoxView>("CustomPlot", 1, 0, "BoxView");
    qmlRegisterType<GraphSlot>("CustomPlot", 1, 0, "GraphSlot");
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(registerRenderPolicy)

CustomPlotItem::CustomPlotItem(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setFlag(QQuickItem::ItemHasContents, true);
    setAcceptedMouseButtons(Qt::AllButtons);
    connect(this, &QQuickItem::widthChanged, this, &CustomPlotItem::updateCustomPlotSize);
    connect(this, &QQuickItem::heightChanged, this, &CustomPlotItem::updateCustomPlotSize);
    PlotTicker::shared().add(this);
}

CustomPlotItem::~CustomPlotItem()
{
    PlotTicker::shared().remove(this);
    delete plot;
}

void CustomPlotItem::setReplotEverySample(bool on)
{
    replotEverySampleSetting() = on ? 1 : 0;
}

bool CustomPlotItem::replotEverySample()
{
    int &setting = replotEverySampleSetting();
    if (setting < 0)
        setting = qgetenv("VELMAR_PLOT_REPLOT_EVERY_SAMPLE") == "1" ? 1 : 0;
    return setting == 1;
}

void CustomPlotItem::createPlot()
{
    delete plot;
    plot = new QCustomPlot();
    // Curves as segments rather than one stroked polyline: the same lines,
    // colours and widths, differing only in how a join's corner pixels blend,
    // at less than half the cost. Five charts replot 20 to 33 times a second
    // on the GUI thread, and stroking the joins was most of that time.
    plot->setPlottingHint(QCP::phFastPolylines, true);
    applyItemSize();
    connect(plot, &QCustomPlot::afterReplot, this, &CustomPlotItem::onCustomReplot);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::initCustomPlot()
{
    createPlot();
}

void CustomPlotItem::setSignalNames(const QStringList &names)
{
    m_signalNames = names;
    createPlot();
    qDebug() << names;

    const QList<QPen> &pens = graphPens();
    for (int i = 0; i < names.size(); ++i) {
        QCPGraph *graph = plot->addGraph();
        graph->setName(names.at(i));
        graph->setPen(pens.at(i % pens.size()));
    }

    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1.0);
    plot->xAxis->setTicker(ticker);
    plot->legend->setVisible(true);
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::setData(const QVariantList &data)
{
    if (data != m_data)
        m_data = data;
    if (!plot)
        return;

    PlotClock &clock = PlotClock::shared();
    if (!clock.isStarted())
        clock.start();

    // Double precision: in single precision, samples 3 ms apart share a key
    // after about 9 hours and the curves turn into staircases.
    const double key = clock.elapsedMs() / 1000.0;
    const int count = std::min(data.size(), plot->graphCount());
    for (int i = 0; i < count; ++i)
        plot->graph(i)->addData(key, data.at(i).toFloat());
    lastKey = key;
    pointsPending = true;

    if (!isShown()) {
        // Nothing to draw, but the curves must not grow: trim about once a
        // second of surplus.
        if (count > 0 && plot->graph(0)->data()->constBegin()->key < key - windowSeconds - 1.0) {
            for (int i = 0; i < plot->graphCount(); ++i)
                plot->graph(i)->data()->removeBefore(key - windowSeconds);
        }
        return;
    }
    PlotTicker::shared().wake();
    if (refreshDue || replotEverySample())
        refreshPlot(key);
}

void CustomPlotItem::refreshPlot(double key)
{
    for (int i = 0; i < plot->graphCount(); ++i)
        plot->graph(i)->data()->removeBefore(key - windowSeconds);
    plot->rescaleAxes(true);
    plot->replot(QCustomPlot::rpRefreshHint);
    pointsPending = false;
    refreshDue = false;
}

void CustomPlotItem::resetFlags()
{
    onTick();
}

bool CustomPlotItem::onTick()
{
    refreshDue = true;
    if (!plot || !pointsPending || !isShown())
        return false;
    refreshPlot(lastKey);
    return true;
}

bool CustomPlotItem::isShown() const
{
    if (!isVisible())
        return false;
    const QQuickWindow *w = window();
    if (!w)
        return true;
    const QWindow::Visibility visibility = w->visibility();
    return visibility != QWindow::Hidden && visibility != QWindow::Minimized;
}

void CustomPlotItem::shownMayHaveChanged()
{
    // Points that arrived while hidden show on the next tick.
    if (pointsPending && isShown())
        PlotTicker::shared().wake();
}

void CustomPlotItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickPaintedItem::itemChange(change, value);
    if (change == ItemSceneChange) {
        disconnect(windowVisibility);
        if (value.window)
            windowVisibility = connect(value.window, &QWindow::visibilityChanged, this,
                &CustomPlotItem::shownMayHaveChanged);
        shownMayHaveChanged();
    } else if (change == ItemVisibleHasChanged) {
        shownMayHaveChanged();
    }
}

void CustomPlotItem::applyItemSize()
{
    const QRect rect(0, 0, static_cast<int>(width()), static_cast<int>(height()));
    plot->setGeometry(rect);
    // The plot is never shown, so it gets no resize event to do this itself.
    // An item not laid out yet has no size; the plot keeps drawable buffers.
    if (!rect.isEmpty())
        plot->setViewport(rect);
}

void CustomPlotItem::updateCustomPlotSize()
{
    if (plot)
        applyItemSize();
}

void CustomPlotItem::onCustomReplot()
{
    // A replot has just drawn the plot into its buffers; copying them here is
    // a cheap blit, where rendering the plot again in paint would redo it all.
    const QSize size = plot->size();
    if (size.isEmpty()) {
        frame = QImage();
    } else {
        if (frame.size() != size)
            frame = QImage(size, QImage::Format_ARGB32_Premultiplied);
        frame.fill(Qt::white);
        plot->render(&frame);
    }
    update();
    emit replotted();
}

void CustomPlotItem::graphClicked(QCPAbstractPlottable *plottable)
{
    const QString name = plottable ? plottable->name() : QString();
    qDebug().noquote() << Q_FUNC_INFO << QStringLiteral("Clicked on graph '%1 ").arg(name);
    emit graphClickedSignal();
}

void CustomPlotItem::paint(QPainter *painter)
{
    // The scene graph calls this while the GUI thread waits, possibly from its
    // render thread: hence an image, made on the GUI thread, and no pixmap.
    if (plot && !frame.isNull())
        painter->drawImage(QPoint(), frame);
}

void CustomPlotItem::forwardMouseEvent(QMouseEvent *event)
{
    if (!plot)
        return;
    // Posted, not sent: the plot handles it on the next pass of the event loop.
    QCoreApplication::postEvent(plot,
        new QMouseEvent(event->type(), event->localPos(), event->button(), event->buttons(),
            event->modifiers()));
}

void CustomPlotItem::mousePressEvent(QMouseEvent *event)
{
    forwardMouseEvent(event);
}

void CustomPlotItem::mouseMoveEvent(QMouseEvent *event)
{
    forwardMouseEvent(event);
}

void CustomPlotItem::mouseReleaseEvent(QMouseEvent *event)
{
    forwardMouseEvent(event);
}

void CustomPlotItem::mouseDoubleClickEvent(QMouseEvent *event)
{
    forwardMouseEvent(event);
}
