// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "simmodule.h"
#include "simtypes.h"

#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class SimServer;

// A simulated module on a pseudo-terminal. It serves the wire protocol on its
// own thread, so it keeps answering while the caller's thread is blocked.
// Every member function is thread-safe and returns quickly; none calls back.
//
//   ModuleSimulator sim;                     // ideal sensors, held Z-Up
//   sim.start();                             // opens the pty, starts serving
//   qputenv("VELMAR_EXTRA_PORTS", sim.slavePath().toLocal8Bit());
//   ... connect the link to sim.slavePath() ...
//   QTRY_VERIFY(sim.counters().intactStreamFrames > 10);
//
// Everything the module sends is paced at the 115200-baud line rate (11520
// bytes/s) and never faster, since a pseudo-terminal has no baud rate.
class ModuleSimulator
{
public:
    static constexpr double lineBytesPerSecond = 11520.0;
    // Stream rates outside these are clamped (frames per second).
    static constexpr double minStreamRate = 0.01;
    static constexpr double maxStreamRate = 100000.0;

    struct Options
    {
        QString linkPath; // optional symbolic link to the slave, kept across replugs
        SimIdentity identity; // device id, hardware version, "Sensors Range", ...
        double streamRate = 100; // streamed frames per second
        SimMotion motion; // default: held Z-Up
        bool sensorErrors = false; // off: an ideal sensor, no noise
        quint64 seed = 1; // sensor errors and noise
        bool rotatedSoftIron = false;
        // The stochastic noise model of a resting part, drawn from `seed`.
        std::optional<StochasticParameters> stochastic;
        SimFaults faults;
        // Streamed frames carry BB 00 B0 among their measurement bytes.
        bool lookalikeHeaders = false;
    };

    ModuleSimulator();
    explicit ModuleSimulator(const Options &options);
    ~ModuleSimulator(); // stops
    ModuleSimulator(const ModuleSimulator &) = delete;
    ModuleSimulator &operator=(const ModuleSimulator &) = delete;

    // Opens the pseudo-terminal, makes the link and starts serving.
    bool start(QString *error = nullptr);
    // Stops serving, closes the pseudo-terminal and removes the link.
    void stop();
    bool isRunning() const;

    // The current slave device; a replug gives a new one (the link follows).
    QString slavePath() const;
    QString linkPath() const;

    // The register map as the module holds it now.
    std::array<quint8, SimModule::imageSize> registerImage() const;
    void setHardwareVersion(quint16 version);
    void setSensorsRange(quint8 range); // also stored in "Sensors Range"
    SimFullScales fullScales() const;

    // The world and the sensors.
    void setMotion(const SimMotion &motion); // motion time restarts at 0
    SimMotion motion() const;
    SimTruth truth() const; // now, without noise
    double clock() const; // seconds on the clock that stamps requests()
    // The stochastic model's terms at the stream rate, one line per axis.
    QString noiseTruth() const;
    void setSensorErrorsEnabled(bool on);
    bool sensorErrorsEnabled() const;
    void setSensorErrors(const SimSensorErrors &errors); // used while enabled
    SimSensorErrors sensorErrors() const;

    // Streaming. A new rate takes effect at once, counted from the latest
    // frame; a rate that is not a number is ignored.
    void setStreamRate(double framesPerSecond);
    double streamRate() const;
    // While on, each streamed frame carries its sequence number (1, 2, 3, ...
    // up to 32767 and round again, restarting when switched on) as raw
    // "Gyroscope X", and a truncation never lets a frame's number reach the line.
    void setSequenceStamp(bool on);

    // Faults.
    void setFaults(const SimFaults &faults);
    SimFaults faults() const;
    void stall(int milliseconds); // the line goes quiet; requests are answered afterwards
    // Write requests that start at firstAddress .. firstAddress + count - 1 are
    // dropped, as by a module that does not take them; count 0 takes every write.
    void setIgnoredWrites(int firstAddress, int count);
    // Closes the master as a pulled cable does; with backAfterMs >= 0 a new
    // pseudo-terminal appears that much later (on the same link path), else at
    // replug(). Both return once the change has happened (at most 2 s).
    void unplug(int backAfterMs = -1);
    void replug();
    bool isPlugged() const;

    SimCounters counters() const;
    // The requests received so far (the latest 10000), oldest first.
    std::vector<SimRequest> requests() const;

private:
    std::unique_ptr<SimServer> d;
};
