// SPDX-License-Identifier: GPL-3.0-or-later
#include "modulesimulator.h"

#include "simserver.h"

#include <algorithm>
#include <cmath>

ModuleSimulator::ModuleSimulator()
    : ModuleSimulator(Options())
{ }

ModuleSimulator::ModuleSimulator(const Options &options)
    : d(std::make_unique<SimServer>(options))
{ }

ModuleSimulator::~ModuleSimulator()
{
    stop();
}

bool ModuleSimulator::start(QString *error)
{
    return d->start(error);
}

void ModuleSimulator::stop()
{
    d->stop();
}

bool ModuleSimulator::isRunning() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->running;
}

QString ModuleSimulator::slavePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->slavePath;
}

QString ModuleSimulator::linkPath() const
{
    return d->options.linkPath;
}

std::array<quint8, SimModule::imageSize> ModuleSimulator::registerImage() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.image();
}

void ModuleSimulator::setIgnoredWrites(int firstAddress, int count)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->ignoredWritesFirst = firstAddress;
    d->ignoredWritesCount = std::max(count, 0);
}

void ModuleSimulator::setHardwareVersion(quint16 version)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.setHardwareVersion(version);
}

void ModuleSimulator::setSensorsRange(quint8 range)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.setSensorsRange(range);
}

SimFullScales ModuleSimulator::fullScales() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.fullScales();
}

void ModuleSimulator::setMotion(const SimMotion &motion)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.sensors().setMotion(motion, d->clock());
}

SimMotion ModuleSimulator::motion() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().motion();
}

double ModuleSimulator::clock() const
{
    return d->clock();
}

SimTruth ModuleSimulator::truth() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.truth(d->clock());
}

QString ModuleSimulator::noiseTruth() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().stochasticTruthText(d->streamRate, d->module.fullScales());
}

void ModuleSimulator::setSensorErrorsEnabled(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.sensors().setErrorsEnabled(on);
}

bool ModuleSimulator::sensorErrorsEnabled() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().errorsEnabled();
}

void ModuleSimulator::setSensorErrors(const SimSensorErrors &errors)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->module.sensors().setErrors(errors);
}

SimSensorErrors ModuleSimulator::sensorErrors() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->module.sensors().errors();
}

void ModuleSimulator::setStreamRate(double framesPerSecond)
{
    if (!std::isfinite(framesPerSecond))
        return; // NaN would stream at the line limit, and nothing is slower than forever
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->streamRate = std::clamp(framesPerSecond, minStreamRate, maxStreamRate);
    }
    d->wakeUp();
}

double ModuleSimulator::streamRate() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->streamRate;
}

void ModuleSimulator::setSequenceStamp(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stamp = on;
    d->stampNext = 1;
}

void ModuleSimulator::setFaults(const SimFaults &faults)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->faults = faults;
    }
    d->wakeUp();
}

SimFaults ModuleSimulator::faults() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->faults;
}

void ModuleSimulator::stall(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stallUntil = std::max(d->stallUntil, d->clock() + milliseconds / 1000.0);
    }
    d->wakeUp();
}

void ModuleSimulator::unplug(int backAfterMs)
{
    d->unplug(backAfterMs);
}

void ModuleSimulator::replug()
{
    d->replug();
}

bool ModuleSimulator::isPlugged() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->plugged;
}

SimCounters ModuleSimulator::counters() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->counters;
}

std::vector<SimRequest> ModuleSimulator::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return {d->requestLog.begin(), d->requestLog.end()};
}
