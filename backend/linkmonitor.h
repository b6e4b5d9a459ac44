// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstatus.h"
#include "modulesources.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTime>
#include <QTimer>

// The open link as the status strip shows it: which module answers (from its
// identity registers as they arrive), the figures sampled from the link's
// counters every SampleIntervalMs while a link is open, and the warning when
// data stops or cannot be decoded. Signals only when a shown value changed;
// with no link open nothing runs.
class LinkMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int SampleIntervalMs = 500;

    struct Shown
    {
        bool linkOpen = false;
        QString port;
        QString identity;
        QString ranges;
        int framesPerSecond = 0;
        int bytesPerSecond = 0;
        qint64 cutFrames = 0;
        qint64 noiseBytes = 0;
        qint64 samplesNotShown = 0;
        QString statusMessage;
        bool operator==(const Shown &o) const
        {
            return linkOpen == o.linkOpen && port == o.port && identity == o.identity
                && ranges == o.ranges && framesPerSecond == o.framesPerSecond
                && bytesPerSecond == o.bytesPerSecond && cutFrames == o.cutFrames
                && noiseBytes == o.noiseBytes && samplesNotShown == o.samplesNotShown
                && statusMessage == o.statusMessage;
        }
    };

    explicit LinkMonitor(ModuleSources sources, QObject *parent = nullptr);

    // The link to `port` is up: figures and identity start afresh.
    void opened(const QString &port);
    // The open link failed (whichever port it names).
    void failed();
    // The link to `port` was closed; another port's closing changes nothing.
    void closed(const QString &port);
    // Works out what is shown again; signals what changed.
    void update();

    QString openPort() const { return m_openPort; }
    const Shown &shown() const { return m_shown; }
    QString warning() const { return m_warning; }
    bool isSampling() const { return m_sampleTimer.isActive(); }

    // The identity read in the current (or last) connection.
    SeenModule identity() const { return m_identity; }
    void forgetIdentity() { m_identity = SeenModule(); }

signals:
    void figuresChanged();
    void warningChanged();
    // One of the identity registers came from the module.
    void identityRead();

private:
    qint64 now() const { return m_clock.elapsed(); }
    void watchIdentityRows();
    void sample();
    void updateShown();
    void updateWarning();

    bool magCalibrated() const;

    ModuleSources m_sources;
    QElapsedTimer m_clock;
    QString m_openPort;
    QTimer m_sampleTimer;
    ConnectionFigures m_figures;
    QTime m_lastFrameClock;
    QTime m_lastStatusClock;
    SeenModule m_identity;
    Shown m_shown;
    QString m_warning;
};
