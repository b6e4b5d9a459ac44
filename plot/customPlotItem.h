#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

class QCustomPlot;
class QCPAbstractPlottable;

// A QML item showing a scrolling time chart of a few named signals. Each write
// of `data` appends one point per curve at the shared clock's time; the chart
// keeps the last 8 seconds and is drawn by rendering an off-screen QCustomPlot
// into the item's painter.
//
// Trimming, rescaling and replotting happen at most once per tick of a 30 ms
// timer, so a fast stream does not replot on every sample. Points are still
// appended on every write.
class CustomPlotItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QVariantList data READ data WRITE setData NOTIFY dataChanged)
    Q_PROPERTY(QStringList signalNames READ signalNames WRITE setSignalNames NOTIFY signalNamesChanged)

public:
    explicit CustomPlotItem(QQuickItem *parent = nullptr);
    ~CustomPlotItem() override;

    Q_INVOKABLE void initCustomPlot();

    QVariantList data() const { return m_data; }
    void setData(const QVariantList &data);

    QStringList signalNames() const { return m_signalNames; }
    void setSignalNames(const QStringList &names);

    void paint(QPainter *painter) override;

    // The off-screen plot, or null before the first signalNames/initCustomPlot.
    QCustomPlot *customPlot() const { return plot; }

    // Seconds of history each curve keeps.
    static constexpr double windowSeconds = 8.0;
    static constexpr int replotIntervalMs = 30;

    // Replot on every data write instead of once per timer tick. Kept only to
    // measure the difference; also switched on by the environment variable
    // VELMAR_PLOT_REPLOT_EVERY_SAMPLE=1.
    static void setReplotEverySample(bool on);
    static bool replotEverySample();

signals:
    void dataChanged();
    void signalNamesChanged();
    void graphClickedSignal();

private slots:
    void graphClicked(QCPAbstractPlottable *plottable);
    void onCustomReplot();
    void updateCustomPlotSize();
    void resetFlags();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void createPlot();
    void applyItemSize();
    void refreshPlot(double key);
    void forwardMouseEvent(QMouseEvent *event);

    QTimer replotTimer;
    bool refreshDue = true;
    bool timerIdle = true;
    // Points appended since the last replot; a tick with pending points
    // replots them, so the newest samples show even when the stream stops.
    bool pointsPending = false;
    double lastKey = 0.0;
    QCustomPlot *plot = nullptr;
    // The plot as last replotted, drawn by paint.
    QImage frame;
    QVariantList m_data;
    QStringList m_signalNames;
};
