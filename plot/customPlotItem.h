// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sourceFeed.h"

#include <QImage>
#include <QMetaObject>
#include <QQuickPaintedItem>
#include <QSharedPointer>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class QCustomPlot;
class QCPAbstractPlottable;
class QCPGraphData;
template <class DataType> class QCPDataContainer;
using QCPGraphDataContainer = QCPDataContainer<QCPGraphData>;

// A QML item showing a scrolling time chart of a few named signals. Each write
// of `data` appends one point per curve at the shared clock's time; the chart
// keeps the last 8 seconds and is drawn by rendering an off-screen QCustomPlot
// into the item's painter.
//
// Trimming, rescaling and replotting happen at most once per tick of the
// timer all charts share (PlotTicker), so a fast stream does not replot on
// every sample. Points are still appended on every write. A chart that cannot
// be seen (hidden, or its window minimised) keeps its points but does not
// replot until it shows again, and with no data arriving nothing ticks.
//
// `data` is write-only, without a change signal: a binding reads the list it
// feeds from, never from the chart.
//
// Instead of a binding, `source` and `sourceProperty` name an object and its
// list property: each change signal of that property appends one point, read
// in C++. A sample then never passes through JavaScript, which at a few
// hundred samples a second for five charts was most of what a minimised or
// hidden live page still cost.
//
// A paused chart holds still what it showed at the pause, to be zoomed (wheel),
// panned (drag) and exported, while the samples that keep arriving go on
// filling the live 8-second window behind it; resuming shows that window.
class CustomPlotItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QVariantList data WRITE setData)
    Q_PROPERTY(QObject *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(
        QString sourceProperty READ sourceProperty WRITE setSourceProperty NOTIFY sourceChanged)
    Q_PROPERTY(
        QStringList signalNames READ signalNames WRITE setSignalNames NOTIFY signalNamesChanged)
    Q_PROPERTY(bool paused READ paused WRITE setPaused NOTIFY pausedChanged)
    // Whether a paused chart shows another range than at the pause.
    Q_PROPERTY(bool zoomed READ zoomed NOTIFY zoomedChanged)
    // The values' unit as shown ("m/s²"; empty for none): on the value axis,
    // after valueLabel, and in the exported column names.
    Q_PROPERTY(QString unit READ unit WRITE setUnit NOTIFY unitChanged)
    // What the values are ("Acceleration"), the value axis's title.
    Q_PROPERTY(QString valueLabel READ valueLabel WRITE setValueLabel NOTIFY valueLabelChanged)
    // A small note in the chart's top right corner, empty for none: where
    // samples did not all become points, the chart says so.
    Q_PROPERTY(QString note READ note WRITE setNote NOTIFY noteChanged)

public:
    explicit CustomPlotItem(QQuickItem *parent = nullptr);
    ~CustomPlotItem() override;

    Q_INVOKABLE void initCustomPlot();

    // The list last written (for tests; QML cannot read it).
    QVariantList lastData() const { return m_data; }
    void setData(const QVariantList &data);

    QObject *source() const { return m_feed.source(); }
    void setSource(QObject *source);
    QString sourceProperty() const { return m_feed.propertyName(); }
    void setSourceProperty(const QString &name);

    QStringList signalNames() const { return m_signalNames; }
    void setSignalNames(const QStringList &names);

    bool paused() const { return m_paused; }
    void setPaused(bool paused);
    bool zoomed() const { return m_zoomed; }
    QString unit() const { return m_unit; }
    void setUnit(const QString &unit);
    QString valueLabel() const { return m_valueLabel; }
    void setValueLabel(const QString &label);
    QString note() const { return m_note; }
    void setNote(const QString &note);
    // The value axis's title: the label with the unit in parentheses.
    QString valueAxisText() const;

    // While paused: zoom about the item point (x, y), by `factor` (below 1
    // zooms in), in time or, with `valueAxis`, in value.
    Q_INVOKABLE void zoomAt(qreal x, qreal y, qreal factor, bool valueAxis = false);
    // While paused: move the view with the pointer by (dx, dy) item pixels.
    Q_INVOKABLE void panBy(qreal dx, qreal dy);
    // While paused: back to the whole window held at the pause.
    Q_INVOKABLE void resetView();

    // Write what the chart shows (time range as on screen) to `path`, as an
    // image or as comma-separated values. Empty when written, else the reason.
    Q_INVOKABLE QString savePng(const QString &path) const;
    Q_INVOKABLE QString saveCsv(const QString &path) const;
    // The CSV text saveCsv writes: "time_s", then one column per curve named
    // "<curve>_<unit>"; one row per sample time in the shown range.
    QByteArray visibleCsv() const;
    // A unit as a column name carries it: plain ASCII ("deg/s" for "°/s").
    static QString csvUnit(const QString &unit);

    void paint(QPainter *painter) override;

    // The off-screen plot, or null before the first signalNames/initCustomPlot.
    QCustomPlot *customPlot() const { return plot; }

    // Seconds of history each curve keeps.
    static constexpr double windowSeconds = 8.0;
    // The shared tick on hardware OpenGL, and on a software renderer, which
    // draws the charts 20 times a second.
    static constexpr int replotIntervalMs = 30;
    static constexpr int softwareReplotIntervalMs = 50;

    // Called by the shared ticker: replots if points arrived since the last
    // replot and the chart can be seen. True if it replotted, i.e. the chart
    // still has a stream worth ticking for.
    bool onTick();

    // Whether the chart can be seen: visible, in a window that is neither
    // hidden nor minimised. An item outside any window counts as shown.
    bool isShown() const;

    // Replot on every data write instead of once per timer tick. Kept only to
    // measure the difference; also switched on by the environment variable
    // VELMAR_PLOT_REPLOT_EVERY_SAMPLE=1.
    static void setReplotEverySample(bool on);
    static bool replotEverySample();

signals:
    void signalNamesChanged();
    void sourceChanged();
    void graphClickedSignal();
    // After each replot, i.e. on the shared tick while data arrives.
    void replotted();
    // After each replot, and on a paused chart's tick that took in new points:
    // what the rest of the page can follow the stream by, paused or not.
    void ticked();
    void pausedChanged();
    void zoomedChanged();
    void unitChanged();
    void valueLabelChanged();
    void noteChanged();

private slots:
    void graphClicked(QCPAbstractPlottable *plottable);
    void onCustomReplot();
    void updateCustomPlotSize();
    void resetFlags();

protected:
    void itemChange(ItemChange change, const ItemChangeData &value) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void createPlot();
    void applyRenderMode();
    void applyItemSize();
    void refreshPlot(double key);
    void forwardMouseEvent(QMouseEvent *event);
    void shownMayHaveChanged();
    void trimLive(double key);
    void holdView();
    void setZoomed(bool zoomed);
    void applyValueAxisText();
    void applyNote();

    bool refreshDue = true;
    // Points appended since the last replot; a tick with pending points
    // replots them, so the newest samples show even when the stream stops.
    bool pointsPending = false;
    double lastKey = 0.0;
    QCustomPlot *plot = nullptr;
    // The plot as last replotted, drawn by paint.
    QImage frame;
    QMetaObject::Connection windowVisibility;
    // The curves' live points, one container per graph. Unpaused, the graphs
    // draw these; paused, they draw copies taken at the pause.
    QVector<QSharedPointer<QCPGraphDataContainer>> m_live;
    bool m_paused = false;
    bool m_zoomed = false;
    // A drag that pans a paused chart, and where the pointer was last.
    bool m_dragging = false;
    QPointF m_dragFrom;
    QString m_unit;
    QString m_valueLabel;
    QString m_note;
    QVariantList m_data;
    QStringList m_signalNames;
    SourceFeed m_feed;
};
