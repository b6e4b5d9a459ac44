// SPDX-License-Identifier: GPL-3.0-or-later
// What one chart tick costs and where: the plot's own replot into its layer
// buffers, the copy of those buffers into the image the item paints, and the
// whole tick of the item as the live page drives it. One chart of the live
// page's size with three curves holding 8 s of samples.
//
//   bench_plot [--benchmark_repetitions=3]     (QT_QPA_PLATFORM=offscreen is set)

#include "customPlotItem.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <qcustomplot.h>

#include <cmath>
#include <memory>

namespace {

constexpr int chartWidth = 620;
constexpr int chartHeight = 320;
constexpr double samplesPerSecond = 60.0;

void quietDebug(QtMsgType, const QMessageLogContext &, const QString &) { }

// A plot styled like the item's, filled with a window of wavy samples.
std::unique_ptr<QCustomPlot> makePlot(bool fastPolylines)
{
    auto plot = std::make_unique<QCustomPlot>();
    plot->setGeometry(0, 0, chartWidth, chartHeight);
    plot->setViewport(QRect(0, 0, chartWidth, chartHeight));
    plot->setPlottingHint(QCP::phFastPolylines, fastPolylines);
    const QColor colours[] = {QColor(57, 106, 177), QColor(218, 124, 48), QColor(62, 150, 81)};
    for (int g = 0; g < 3; ++g) {
        QCPGraph *graph = plot->addGraph();
        graph->setName(QStringLiteral("Curve_%1").arg(g));
        graph->setPen(QPen(QBrush(colours[g]), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        const int n = int(CustomPlotItem::windowSeconds * samplesPerSecond);
        for (int i = 0; i < n; ++i) {
            const double t = i / samplesPerSecond;
            graph->addData(t, 9.81 * std::sin(t * (1.3 + g)) + 0.3 * std::sin(t * 37.0));
        }
    }
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1.0);
    plot->xAxis->setTicker(ticker);
    plot->legend->setVisible(true);
    plot->rescaleAxes(true);
    plot->replot(QCustomPlot::rpRefreshHint);
    return plot;
}

// replot(): layout, then every layer drawn into the plot's buffers.
void BM_Replot(benchmark::State &state)
{
    auto plot = makePlot(state.range(0) != 0);
    for (auto _ : state)
        plot->replot(QCustomPlot::rpRefreshHint);
    state.SetLabel(state.range(0) ? "fast polylines (the item's)" : "stroked polylines");
}
BENCHMARK(BM_Replot)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The buffers of the last replot copied into the image that paint() draws.
void BM_BuffersToImage(benchmark::State &state)
{
    auto plot = makePlot(true);
    QImage frame(plot->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        frame.fill(Qt::white);
        plot->render(&frame);
    }
}
BENCHMARK(BM_BuffersToImage)->Unit(benchmark::kMicrosecond);

// The image drawn into the item's own paint target, as paint() does.
void BM_ImageToItem(benchmark::State &state)
{
    auto plot = makePlot(true);
    QImage frame(plot->size(), QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::white);
    plot->render(&frame);
    QImage target(plot->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.drawImage(QPoint(), frame);
    }
}
BENCHMARK(BM_ImageToItem)->Unit(benchmark::kMicrosecond);

// One tick of the item at the live page's rate: a sample appended, old points
// trimmed, axes rescaled, replotted, copied. This is what each of the five
// charts costs the GUI thread about 33 times a second.
void BM_ItemTick(benchmark::State &state)
{
    CustomPlotItem item;
    item.setSize(QSizeF(chartWidth, chartHeight));
    item.setSignalNames({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    item.customPlot()->setPlottingHint(QCP::phFastPolylines, state.range(0) != 0);
    // Fill the window: one tick per sample until 8 s of keys are held.
    double t = 0;
    auto sample = [&t] {
        t += 1.0 / samplesPerSecond;
        return QVariantList {
            9.81 * std::sin(t * 1.3), 9.81 * std::sin(t * 2.3), 9.81 * std::sin(t * 3.3)};
    };
    for (int i = 0; i < 100; ++i) {
        item.setData(sample());
        QMetaObject::invokeMethod(&item, "resetFlags");
    }
    for (auto _ : state) {
        item.setData(sample());
        QMetaObject::invokeMethod(&item, "resetFlags");
    }
    state.SetLabel(state.range(0) ? "fast polylines (the item's)" : "stroked polylines");
}
BENCHMARK(BM_ItemTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietDebug);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
