// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration.h"
#include "calibrationrun.h"
#include "registerobjects.h"

#include <QObject>

#include <QString>
#include <QTimer>
#include <functional>

class CalibrationGuide;
class ModuleIdentity;
class ModuleRequests;
class RestoreOffers;

// What a calibration procedure works with; all of it the backend's, on the GUI thread.
struct CalibrationServices
{
    ModuleRequests &requests;
    // The catalogue's objects, filled before any procedure is made.
    const RegisterObjects &rows;
    const ModuleIdentity &identity;
    RestoreOffers &offers;
    // The one calibration maths object the three procedures share.
    Calibration &calibration;
    // Called with what triggers it right before a run's first write, when set
    // (the backup): empty when the run may write, else why not.
    const std::function<QString(const QString &trigger)> *beforeFirstWrite = nullptr;
    // What the pages show around the procedures; the procedures report to it, when set.
    CalibrationGuide *guide = nullptr;
};

// One calibration procedure and what keeps the module's parameters safe around it.
// Right before a run sends its reset block it reads the sensor's parameters from
// the module, and only the answer lets it go on: that answer, not the register
// image (which a stale connection or line noise may have touched), is what goes
// back when the run is refused, fails or is abandoned. Every block written is read
// back, and the user hears "finished" or "kept" only once the read-back shows it.
// A run cut off with the link writes nothing later by itself: its saved parameters
// are offered when the same module is back on the same port.
//
// The procedures (accelerometer, gyroscope, magnetometer) derive from it: they
// gather samples and compute the result; this class starts, ends and writes.
class CalibrationProcedure : public QObject
{
    Q_OBJECT

public:
    CalibrationProcedure(
        CalSensor sensor, const CalibrationServices &services, QObject *parent = nullptr);

    CalSensor sensor() const { return m_sensor; }
    // A run is on, from the press that armed it until its result is written or it fails.
    bool isRunning() const { return m_run.active; }
    // A result scored below the floor waits for confirmResult or discardResult.
    bool awaitingConfirmation() const;
    void confirmResult();
    void discardResult();
    // Abandons a running run; where it had already reset the module, its previous
    // parameters go back.
    void cancel();
    // The link is gone: a run or a read-back in flight ends, and what the module held
    // before is offered for when it is back.
    void linkLost(const QString &port);
    // Writes parameters saved before a cut-off run back (and reads them back).
    void restore(const CalSavedParams &saved);

signals:
    // The result is in the module: its read-back matched.
    void finished(double quality);
    // The run ended without a result; `message` tells the user what the module holds.
    void failed(const QString &message);
    // `why`: what held the score down, when the procedure knows (else empty).
    void needsConfirmation(double quality, const QString &why);
    // What became of a restore the user asked for.
    void notice(const QString &message);
    // Progress of the run in percent (the accelerometer and gyroscope report it).
    void progressChanged(double percent);

protected:
    // A new run, whatever an earlier one left behind.
    void startRun();
    // Whether the reset block is out, so that a sample counts. Until then each sample
    // moves towards it: the first asks for the module's parameters, and the first
    // after their answer sends the reset and starts gathering.
    bool resetOut();
    // A result goes to the module unless it scored below the floor; `why`
    // tells the user what held the score down.
    void finishRun(const Calibration::ParamBlock &block, int quality, const QString &why = {});
    void failRun(const QString &message);
    Calibration &calibration() const { return m_services.calibration; }
    CalibrationGuide *guide() const { return m_services.guide; }
    // What the module held before this run's reset.
    const CalSavedParams &savedParams() const { return m_run.saved; }

    // The reset is out: the sample that asked for it (or, after the module answered
    // the read of its parameters, the one that asked for that read) counts as the first.
    virtual void startGathering() = 0;
    // Back to idle, everything gathered dropped.
    virtual void stopGathering() = 0;

private:
    // Sends the reset block once the module's parameters are in (asking for them
    // first); true when it went out now.
    bool sendReset();
    void stopProcedure();
    void writeVerified(const PendingParams &write);
    void abandon(const QString &lostPort);
    Calibration::ParamBlock answeredParams() const;
    void onRowAnswered(int index);
    void onBlockAnswered();
    void onReadBack(const Calibration::ParamBlock &held);
    void onTimeout();

    const CalSensor m_sensor;
    CalibrationServices m_services;
    CalRunGuard m_run;
    PendingParams m_pending;
    // Rows of the parameter block answered since its last read request, one bit each.
    quint32 m_rowsAnswered = 0;
    // Bounds the wait for a parameter read or a read-back.
    QTimer m_timer;
};
