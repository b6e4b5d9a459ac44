// SPDX-License-Identifier: GPL-3.0-or-later
#include "magscatter.h"

using namespace QtDataVisualization;

namespace {

// The gathered-points series is refreshed once it holds more than this many.
constexpr int magSeriesThreshold = 10;

} // namespace

MagScatter::MagScatter()
    : m_gatheredPointArray(new QScatterDataArray)
    , m_latestPointArray(std::make_unique<QScatterDataArray>())
    , m_magScatterDataProxy(std::make_unique<QScatterDataProxy>())
{
    // The proxy takes ownership of the array; we keep the pointer to append to it.
    m_magScatterDataProxy->resetArray(m_gatheredPointArray);
}

MagScatter::~MagScatter() = default;

void MagScatter::setGatheredSeries(QScatter3DSeries *series)
{
    m_magSctr3DSeries = series;
}

void MagScatter::setLatestSeries(QScatter3DSeries *series)
{
    m_magSctr3DSeries2 = series;
}

void MagScatter::showLatest(const QVector3D &point)
{
    m_latestPointArray->clear();
    m_latestPointArray->append(QScatterDataItem(point));
    // The proxy takes ownership of what it is given: a copy, never our array.
    if (m_magSctr3DSeries2)
        m_magSctr3DSeries2->dataProxy()->resetArray(new QScatterDataArray(*m_latestPointArray));
}

bool MagScatter::addGathered(const QVector3D &point)
{
    m_gatheredPointArray->append(QScatterDataItem(point));
    if (!m_magSctr3DSeries || m_gatheredPointArray->size() <= magSeriesThreshold)
        return false;
    m_magSctr3DSeries->dataProxy()->resetArray(new QScatterDataArray(*m_gatheredPointArray));
    return true;
}

void MagScatter::clear()
{
    m_latestPointArray->clear();
    m_gatheredPointArray->clear();
}

void MagScatter::clearShown()
{
    if (m_magSctr3DSeries)
        m_magSctr3DSeries->dataProxy()->resetArray(new QScatterDataArray);
    if (m_magSctr3DSeries2)
        m_magSctr3DSeries2->dataProxy()->resetArray(new QScatterDataArray);
}
