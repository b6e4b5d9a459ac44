// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QMetaObject>
#include <QQuickPaintedItem>
#include <QStringList>
#include <QVariantList>

class QCustomPlot;
class QCPAbstractPlottable;

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
class CustomPlotItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QVariantList data WRITE setData)
    Q_PROPERTY(
        QStringList signalNames READ signalNames WRITE setSignalNames NOTIFY signalNamesChanged)

public:
    explicit CustomPlotItem(QQuickItem *parent = nullptr);
    ~CustomPlotItem() override;

    Q_INVOKABLE void initCustomPlot();

    // The list last written (for tests; QML cannot read it).
    QVariantList lastData() const { return m_data; }
    void setData(const QVariantList &data);

    QStringList signalNames() const { return m_signalNames; }
    void setSignalNames(const QStringList &names);

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
    void graphClickedSignal();
    // After each replot, i.e. on the shared tick while data arrives.
    void replotted();

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

private:
    void createPlot();
    void applyItemSize();
    void refreshPlot(double key);
    void forwardMouseEvent(QMouseEvent *event);
    void shownMayHaveChanged();

    bool refreshDue = true;
    // Points appended since the last replot; a tick with pending points
    // replots them, so the newest samples show even when the stream stops.
    bool pointsPending = false;
    double lastKey = 0.0;
    QCustomPlot *plot = nullptr;
    // The plot as last replotted, drawn by paint.
    QImage frame;
    QMetaObject::Connection windowVisibility;
    QVariantList m_data;
    QStringList m_signalNames;
};
