// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QVector3D>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>

#include <memory>

// What the magnetometer page's 3D scatter shows: the points a calibration kept
// (also the array of the backend's own proxy) and the latest point. The interface
// owns the two series and re-creates them with its page. GUI thread only.
class MagScatter
{
public:
    MagScatter();
    ~MagScatter();

    QtDataVisualization::QScatterDataProxy *proxy() const { return m_magScatterDataProxy.get(); }
    void setGatheredSeries(QtDataVisualization::QScatter3DSeries *series);
    void setLatestSeries(QtDataVisualization::QScatter3DSeries *series);

    // The latest-point series shows `point` alone.
    void showLatest(const QVector3D &point);
    // Adds a kept point. The gathered-points series is refreshed once it holds more
    // than 10; returns whether it was.
    bool addGathered(const QVector3D &point);
    // Empties both arrays; the series are not refreshed.
    void clear();
    // Empties what both series show, so that a new run does not start under
    // the last run's cloud.
    void clearShown();
    int gatheredCount() const { return m_gatheredPointArray->size(); }

private:
    // Owned by m_magScatterDataProxy once handed to it; kept here to append to it.
    QtDataVisualization::QScatterDataArray *m_gatheredPointArray = nullptr;
    std::unique_ptr<QtDataVisualization::QScatterDataArray> m_latestPointArray;
    std::unique_ptr<QtDataVisualization::QScatterDataProxy> m_magScatterDataProxy;
    // The interface owns the series and re-creates them with its page.
    QPointer<QtDataVisualization::QScatter3DSeries> m_magSctr3DSeries;
    QPointer<QtDataVisualization::QScatter3DSeries> m_magSctr3DSeries2;
};
