// SPDX-License-Identifier: GPL-3.0-or-later
// The chart's pause, zoom and pan, and the pointer that drives them.
#include "customPlotItem.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QWheelEvent>
#include <qcustomplot.h>

#include <cmath>

namespace {

// One wheel notch zooms by this much; a notch back undoes it.
constexpr double zoomPerNotch = 0.8;

} // namespace

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

void CustomPlotItem::graphClicked(QCPAbstractPlottable *plottable)
{
    const QString name = plottable ? plottable->name() : QString();
    qDebug().noquote() << Q_FUNC_INFO << QStringLiteral("Clicked on graph '%1 ").arg(name);
    emit graphClickedSignal();
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
