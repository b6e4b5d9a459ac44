// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// How much the live page draws, decided once at start-up from the OpenGL
// renderer. On hardware OpenGL it draws every sample. A software renderer
// (llvmpipe and the like) spends CPU on every frame, so there the charts
// replot together 20 times a second, the 3D box follows the charts' tick and
// turns only when the module turned by more than minTurnDegrees, and the 3D
// view is drawn by a painter (BoxView) rather than by Qt 3D.
//
// Whatever the renderer, Qt 3D's view exists only while a stream is shown:
// inside a Qt Quick scene it draws on every frame and keeps the window
// drawing, so without data the painted box stands in for it.
//
// Exposed to the documents as the singleton RenderPolicy of "CustomPlot" 1.0.
class RenderPolicy : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool software READ software NOTIFY softwareChanged)
    Q_PROPERTY(double minTurnDegrees READ minTurnDegrees CONSTANT)
    // Whether the charts are showing a stream (PlotTicker::isStreaming).
    Q_PROPERTY(bool streaming READ streaming NOTIFY streamingChanged)

public:
    static RenderPolicy &shared();

    bool software() const { return m_software; }
    // Also sets the charts' shared tick.
    void setSoftware(bool on);

    // Smaller turns are not worth a software-rendered frame of the 3D view.
    static constexpr double turnThresholdDegrees = 0.5;
    double minTurnDegrees() const { return turnThresholdDegrees; }

    bool streaming() const;

signals:
    void softwareChanged();
    void streamingChanged();

private:
    RenderPolicy();

    bool m_software = false;
};
