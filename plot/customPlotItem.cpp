// SPDX-License-Identifier: GPL-3.0-or-later
#include "customPlotItem.h"

#include "boxView.h"
#include "chartExport.h"
#include "graphSlot.h"
#include "plotClock.h"
#include "plotTicker.h"
#include "renderPolicy.h"

#include <QCoreApplication>
#include <QDebug>
#include <QImage>
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
    , m_feed([this](const QVariantList &sample) { setData(sample); })
{
    setFlag(QQuickItem::ItemHasContents, true);
    // The plot covers the item with its white ground: drawn opaque, it needs
    // no blending and hides what lies under it, which a software renderer
    // would otherwise draw first on every frame.
    setOpaquePainting(true);
    setFillColor(Qt::white);
    setAcceptedMouseButtons(Qt::AllButtons);
    connect(this, &QQuickItem::widthChanged, this, &CustomPlotItem::updateCustomPlotSize);
    connect(this, &QQuickItem::heightChanged, this, &CustomPlotItem::updateCustomPlotSize);
    connect(&RenderPolicy::shared(), &RenderPolicy::softwareChanged, this, [this] {
        if (!plot)
            return;
        applyRenderMode();
        plot->replot(QCustomPlot::rpRefreshHint);
    });
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
    m_live.clear();
    plot = new QCustomPlot();
    // Curves as segments rather than one stroked polyline: the same lines,
    // colours and widths, differing only in how a join's corner pixels blend,
    // at less than half the cost. Five charts replot 20 to 33 times a second
    // on the GUI thread, and stroking the joins was most of that time.
    plot->setPlottingHint(QCP::phFastPolylines, true);
    applyRenderMode();
    applyItemSize();
    applyValueAxisText();
    applyNote();
    connect(plot, &QCustomPlot::afterReplot, this, &CustomPlotItem::onCustomReplot);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::applyRenderMode()
{
    // On a software renderer the curves are drawn without antialiasing: the
    // same curves with harder edges, at a fraction of the cost of blending
    // every pixel of five charts' lines 20 times a second. Axes, grid and
    // text are never antialiased by the plot, so nothing else changes.
    plot->setNotAntialiasedElements(RenderPolicy::shared().software()
            ? QCP::AntialiasedElements(QCP::aePlottables | QCP::aeLegendItems)
            : QCP::AntialiasedElements(QCP::aeNone));
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
        m_live.append(graph->data());
    }
    if (m_paused)
        holdView();

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
    // after about 9 hours and the curves turn into staircases. Samples handed
    // over in the same millisecond (a burst the link cut in one pass) each
    // keep a key of their own, a microsecond apart, so none merges with
    // another in the export.
    double key = clock.elapsedMs() / 1000.0;
    if (key <= lastKey && !m_live.isEmpty() && !m_live[0]->isEmpty())
        key = lastKey + 1e-6;
    const int count = std::min(data.size(), int(m_live.size()));
    for (int i = 0; i < count; ++i)
        m_live[i]->add(QCPGraphData(key, data.at(i).toFloat()));
    lastKey = key;
    pointsPending = true;

    if (!isShown() || m_paused) {
        // Nothing to draw, but the curves must not grow: trim about once a
        // second of surplus.
        if (count > 0 && m_live[0]->constBegin()->key < key - windowSeconds - 1.0)
            trimLive(key);
        if (!isShown())
            return;
    }
    PlotTicker::shared().wake();
    if (!m_paused && (refreshDue || replotEverySample()))
        refreshPlot(key);
}

void CustomPlotItem::setSource(QObject *source)
{
    if (m_feed.setSource(source))
        emit sourceChanged();
}

void CustomPlotItem::setSourceProperty(const QString &name)
{
    if (m_feed.setPropertyName(name))
        emit sourceChanged();
}

QString CustomPlotItem::csvUnit(const QString &unit)
{
    return chartexport::csvUnit(unit);
}

QByteArray CustomPlotItem::visibleCsv() const
{
    return chartexport::visibleCsv(plot, m_unit);
}

QString CustomPlotItem::saveCsv(const QString &path) const
{
    return chartexport::saveCsv(visibleCsv(), path);
}

QString CustomPlotItem::savePng(const QString &path) const
{
    return chartexport::savePng(plot, path);
}

void CustomPlotItem::trimLive(double key)
{
    for (const auto &points : qAsConst(m_live))
        points->removeBefore(key - windowSeconds);
}

void CustomPlotItem::refreshPlot(double key)
{
    trimLive(key);
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
    if (m_paused) {
        // The held view stays as it is; the page's readout still follows.
        pointsPending = false;
        emit ticked();
        return true;
    }
    refreshPlot(lastKey);
    return true;
}

void CustomPlotItem::setUnit(const QString &unit)
{
    if (unit == m_unit)
        return;
    m_unit = unit;
    applyValueAxisText();
    emit unitChanged();
}

void CustomPlotItem::setValueLabel(const QString &label)
{
    if (label == m_valueLabel)
        return;
    m_valueLabel = label;
    applyValueAxisText();
    emit valueLabelChanged();
}

QString CustomPlotItem::valueAxisText() const
{
    if (m_unit.isEmpty())
        return m_valueLabel;
    if (m_valueLabel.isEmpty())
        return m_unit;
    return QStringLiteral("%1 (%2)").arg(m_valueLabel, m_unit);
}

void CustomPlotItem::setNote(const QString &note)
{
    if (note == m_note)
        return;
    m_note = note;
    applyNote();
    emit noteChanged();
}

void CustomPlotItem::applyNote()
{
    if (!plot)
        return;
    QCPItemText *text = nullptr;
    for (int i = 0; i < plot->itemCount(); ++i) {
        if (plot->item(i)->objectName() == QLatin1String("chartNote"))
            text = qobject_cast<QCPItemText *>(plot->item(i));
    }
    if (!text) {
        text = new QCPItemText(plot);
        text->setObjectName(QStringLiteral("chartNote"));
        text->setClipToAxisRect(false);
        text->position->setType(QCPItemPosition::ptAxisRectRatio);
        text->position->setCoords(1.0, 0.0);
        text->setPositionAlignment(Qt::AlignTop | Qt::AlignRight);
        text->setColor(QColor(176, 80, 0));
        QFont font = text->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        text->setFont(font);
        text->setPadding(QMargins(4, 2, 4, 2));
    }
    text->setText(m_note);
    text->setVisible(!m_note.isEmpty());
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::applyValueAxisText()
{
    if (!plot)
        return;
    plot->yAxis->setLabel(valueAxisText());
    plot->replot(QCustomPlot::rpRefreshHint);
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
    emit ticked();
}

void CustomPlotItem::paint(QPainter *painter)
{
    // The scene graph calls this while the GUI thread waits, possibly from its
    // render thread: hence an image, made on the GUI thread, and no pixmap.
    if (plot && !frame.isNull())
        painter->drawImage(QPoint(), frame);
}
