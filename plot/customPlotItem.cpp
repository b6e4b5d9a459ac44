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
#include <QImageWriter>
#include <QMap>
#include <QMouseEvent>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSaveFile>
#include <QWheelEvent>
#include <qcustomplot.h>

#include <charconv>
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

// One wheel notch zooms by this much; a notch back undoes it.
constexpr double zoomPerNotch = 0.8;

// Shortest text that reads back as the same float: the values are floats.
void appendFloat(QByteArray &out, float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, int(result.ptr - text));
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
    m_live.clear();
    plot = new QCustomPlot();
    // Curves as segments rather than one stroked polyline: the same lines,
    // colours and widths, differing only in how a join's corner pixels blend,
    // at less than half the cost. Five charts replot 20 to 33 times a second
    // on the GUI thread, and stroking the joins was most of that time.
    plot->setPlottingHint(QCP::phFastPolylines, true);
    applyItemSize();
    applyValueAxisText();
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
    // after about 9 hours and the curves turn into staircases.
    const double key = clock.elapsedMs() / 1000.0;
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
    if (source == m_source)
        return;
    m_source = source;
    connectSource();
    emit sourceChanged();
}

void CustomPlotItem::setSourceProperty(const QString &name)
{
    if (name == m_sourceProperty)
        return;
    m_sourceProperty = name;
    connectSource();
    emit sourceChanged();
}

void CustomPlotItem::connectSource()
{
    disconnect(m_sourceConnection);
    m_sourceMeta = QMetaProperty();
    if (!m_source || m_sourceProperty.isEmpty())
        return;
    const QMetaObject *meta = m_source->metaObject();
    const int index = meta->indexOfProperty(m_sourceProperty.toLatin1().constData());
    if (index < 0 || !meta->property(index).hasNotifySignal()) {
        qWarning() << "CustomPlotItem: no list property with a change signal named"
                   << m_sourceProperty << "on" << m_source;
        return;
    }
    m_sourceMeta = meta->property(index);
    const int slot = metaObject()->indexOfSlot("takeSourceSample()");
    m_sourceConnection
        = QMetaObject::connect(m_source, m_sourceMeta.notifySignalIndex(), this, slot);
}

void CustomPlotItem::takeSourceSample()
{
    if (m_source)
        setData(m_sourceMeta.read(m_source).toList());
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

void CustomPlotItem::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_dragging = false;
    setKeepMouseGrab(false);
    if (plot) {
        if (paused) {
            holdView();
        } else {
            for (int i = 0; i < int(m_live.size()) && i < plot->graphCount(); ++i)
                plot->graph(i)->setData(m_live[i]);
            refreshPlot(lastKey);
        }
    }
    setZoomed(false);
    emit pausedChanged();
}

void CustomPlotItem::holdView()
{
    // The window as it stands now, copied: the live containers go on
    // taking samples while the copies are looked at.
    trimLive(lastKey);
    for (int i = 0; i < int(m_live.size()) && i < plot->graphCount(); ++i)
        plot->graph(i)->setData(QSharedPointer<QCPGraphDataContainer>::create(*m_live[i]));
    plot->rescaleAxes(true);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::setZoomed(bool zoomed)
{
    if (zoomed == m_zoomed)
        return;
    m_zoomed = zoomed;
    emit zoomedChanged();
}

void CustomPlotItem::zoomAt(qreal x, qreal y, qreal factor, bool valueAxis)
{
    if (!m_paused || !plot || !(factor > 0) || !std::isfinite(factor))
        return;
    if (valueAxis)
        plot->yAxis->scaleRange(factor, plot->yAxis->pixelToCoord(y));
    else
        plot->xAxis->scaleRange(factor, plot->xAxis->pixelToCoord(x));
    setZoomed(true);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::panBy(qreal dx, qreal dy)
{
    if (!m_paused || !plot)
        return;
    const QRect area = plot->axisRect()->rect();
    if (area.width() <= 0 || area.height() <= 0)
        return;
    // The content follows the pointer: the range moves against it. Screen y
    // grows downwards, values upwards.
    plot->xAxis->moveRange(-dx * plot->xAxis->range().size() / area.width());
    plot->yAxis->moveRange(dy * plot->yAxis->range().size() / area.height());
    setZoomed(true);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void CustomPlotItem::resetView()
{
    if (!m_paused || !plot)
        return;
    plot->rescaleAxes(true);
    setZoomed(false);
    plot->replot(QCustomPlot::rpRefreshHint);
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

void CustomPlotItem::applyValueAxisText()
{
    if (!plot)
        return;
    plot->yAxis->setLabel(valueAxisText());
    plot->replot(QCustomPlot::rpRefreshHint);
}

QString CustomPlotItem::csvUnit(const QString &unit)
{
    QString ascii = unit;
    ascii.replace(QStringLiteral("°C"), QStringLiteral("C"));
    ascii.replace(QChar(0x00B0), QStringLiteral("deg"));
    ascii.replace(QChar(0x00B2), QLatin1Char('2'));
    ascii.replace(QChar(0x00B3), QLatin1Char('3'));
    ascii.replace(QChar(0x00B5), QLatin1Char('u'));
    ascii.replace(QLatin1Char(' '), QLatin1Char('_'));
    return ascii;
}

QByteArray CustomPlotItem::visibleCsv() const
{
    QByteArray out("time_s");
    if (!plot)
        return out + '\n';
    const QString unit = csvUnit(m_unit);
    for (int i = 0; i < plot->graphCount(); ++i) {
        QString name = plot->graph(i)->name();
        if (!unit.isEmpty())
            name += QLatin1Char('_') + unit;
        // A name never holds a comma or a quote here; quote it anyway if it did.
        if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('"')))
            name = QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\""))
                + QLatin1Char('"');
        out += ',' + name.toUtf8();
    }
    out += '\n';

    // Rows by time: the curves of a chart share their sample times, but a
    // short list may have fed only the first curves, so merge by key.
    const QCPRange shown = plot->xAxis->range();
    QMap<double, QVector<double>> rows;
    const int curves = plot->graphCount();
    for (int i = 0; i < curves; ++i) {
        const QSharedPointer<QCPGraphDataContainer> points = plot->graph(i)->data();
        for (auto it = points->findBegin(shown.lower, false);
             it != points->findEnd(shown.upper, false); ++it) {
            QVector<double> &row = rows[it->key];
            if (row.isEmpty())
                row.fill(std::nan(""), curves);
            row[i] = it->value;
        }
    }
    for (auto row = rows.constBegin(); row != rows.constEnd(); ++row) {
        out += QByteArray::number(row.key(), 'f', 3);
        for (double value : row.value()) {
            out += ',';
            if (!std::isnan(value))
                appendFloat(out, float(value));
        }
        out += '\n';
    }
    return out;
}

QString CustomPlotItem::saveCsv(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(visibleCsv());
    if (!file.commit())
        return file.errorString();
    return QString();
}

QString CustomPlotItem::savePng(const QString &path) const
{
    if (!plot || plot->width() <= 0 || plot->height() <= 0)
        return QStringLiteral("the chart has no size yet");
    // The plot as it stands, drawn afresh at its size: the same picture as
    // on screen.
    const QImage image = plot->toPixmap(plot->width(), plot->height()).toImage();
    QImageWriter writer(path, "png");
    if (!writer.write(image))
        return writer.errorString();
    return QString();
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
    if (m_paused) {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        // Hold on to the drag: the swipe view around the page would take
        // it for a swipe to the next page.
        m_dragging = true;
        m_dragFrom = event->localPos();
        setKeepMouseGrab(true);
        event->accept();
        return;
    }
    forwardMouseEvent(event);
}

void CustomPlotItem::mouseMoveEvent(QMouseEvent *event)
{
    if (m_paused) {
        if (m_dragging) {
            const QPointF delta = event->localPos() - m_dragFrom;
            m_dragFrom = event->localPos();
            panBy(delta.x(), delta.y());
        }
        return;
    }
    forwardMouseEvent(event);
}

void CustomPlotItem::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_paused) {
        m_dragging = false;
        setKeepMouseGrab(false);
        return;
    }
    forwardMouseEvent(event);
}

void CustomPlotItem::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_paused) {
        resetView();
        return;
    }
    forwardMouseEvent(event);
}

void CustomPlotItem::wheelEvent(QWheelEvent *event)
{
    // Unpaused, the view follows the stream and the wheel belongs to
    // whatever is around the chart.
    if (!m_paused || !plot || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    const double notches = event->angleDelta().y() / 120.0;
    zoomAt(event->position().x(), event->position().y(), std::pow(zoomPerNotch, notches),
        event->modifiers().testFlag(Qt::ControlModifier));
    event->accept();
}
