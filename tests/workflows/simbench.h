// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim.h"

#include "durUzaBackend.h"
#include "registercatalogue.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVector3D>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

// The real backend connected through its real link to the simulated module on a
// pseudo-terminal, reached by a symbolic link that keeps its name across a replug
// (as a USB adapter keeps its device name).
namespace simbench {

using Block = std::array<float, 12>;

struct SensorRegisters
{
    const char *name;
    int address;
    int floats;
};

inline SensorRegisters registersOf(const QString &sensor)
{
    if (sensor == QLatin1String("accelerometer"))
        return {"accelerometer", 55, 12};
    if (sensor == QLatin1String("gyroscope"))
        return {"gyroscope", 103, 3};
    return {"magnetometer", 127, 12};
}

class Bench
{
public:
    explicit Bench(bool sensorErrors, double streamRate)
    {
        ModuleSimulator::Options options;
        options.linkPath = m_dir.path() + QStringLiteral("/imu");
        options.sensorErrors = sensorErrors;
        options.seed = 11;
        options.streamRate = streamRate;
        options.motion = SimMotion::still(SimPose::ZUp);
        sim = std::make_unique<ModuleSimulator>(options);
        m_started = sim->start();
        qputenv("VELMAR_EXTRA_PORTS", options.linkPath.toLocal8Bit());
        backend = std::make_unique<DurUzaBackend>();
    }
    ~Bench()
    {
        if (backend->isConnected())
            backend->connectClicked(0);
        backend.reset(); // stops the link before the module goes
        sim.reset();
    }

    // Connects and waits until the connect sequence has read the whole register
    // map (the calibration registers included).
    bool connect()
    {
        if (!m_started)
            return false;
        QSignalSpy opened(backend->comsHandler(), &ComsHandler::linkOpened);
        QSignalSpy lastRegister(backend->registers().last(), SIGNAL(dataUpdatedFromModule()));
        const int index = backend->availablePortsList().indexOf(sim->linkPath());
        if (index < 0)
            return false;
        backend->connectClicked(index);
        return (opened.count() > 0 || opened.wait(10000))
            && (lastRegister.count() > 0 || lastRegister.wait(10000));
    }

    // The module's registers of a sensor's parameter block, as floats.
    Block moduleParams(const QString &sensor) const
    {
        const SensorRegisters regs = registersOf(sensor);
        const auto image = sim->registerImage();
        Block block = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
        for (int i = 0; i < regs.floats; ++i)
            block[std::size_t(i)] = readF32(image.data() + regs.address + 4 * i);
        return block;
    }

    // Waits (on the backend's signals) until `done` holds or `ms` pass.
    bool waitFor(const std::function<bool()> &done, int ms = 15000)
    {
        QSignalSpy tick(backend.get(), &DurUzaBackend::accDataListChanged);
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > ms)
                return false;
            tick.wait(50);
        }
        return true;
    }

    // The next `count` samples of one live list, as the charts see them.
    std::vector<QVector3D> collect(void (DurUzaBackend::*changed)(),
        QVariantList (DurUzaBackend::*list)() const, int count, int ms = 20000)
    {
        std::vector<QVector3D> samples;
        DurUzaBackend *b = backend.get();
        // Several samples may arrive in one pass: the first `count` are taken.
        const QMetaObject::Connection c = QObject::connect(b, changed, b, [&] {
            if (int(samples.size()) >= count)
                return;
            const QVariantList v = (b->*list)();
            samples.emplace_back(v[0].toFloat(), v[1].toFloat(), v[2].toFloat());
        });
        QSignalSpy spy(b, changed);
        QElapsedTimer timer;
        timer.start();
        while (int(samples.size()) < count && timer.elapsed() < ms)
            spy.wait(200);
        QObject::disconnect(c);
        return samples;
    }

    std::unique_ptr<ModuleSimulator> sim;
    std::unique_ptr<DurUzaBackend> backend;

private:
    QTemporaryDir m_dir;
    bool m_started = false;
};

inline QVector3D mean(const std::vector<QVector3D> &samples)
{
    QVector3D sum;
    for (const QVector3D &s : samples)
        sum += s;
    return samples.empty() ? sum : sum / float(samples.size());
}

inline QVector3D toVector(const std::array<double, 3> &a)
{
    return QVector3D(float(a[0]), float(a[1]), float(a[2]));
}

} // namespace simbench
