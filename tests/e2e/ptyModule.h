#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <mutex>
#include <thread>

// A small stand-in for the module on a pseudo-terminal: answers read requests
// from its register map, stores write requests, and while "Control1" is
// non-zero streams the 34 measurement bytes 50 times a second. Runs on its own
// thread; the public members are safe to call from the test's thread.
class PtyModule
{
public:
    static constexpr int registerCount = 176;

    PtyModule();
    ~PtyModule();
    PtyModule(const PtyModule &) = delete;
    PtyModule &operator=(const PtyModule &) = delete;

    bool start(QString *error);
    void stop();
    QString slavePath() const { return m_slavePath; }

    quint8 registerValue(int address) const;
    int framesStreamed() const { return m_framesStreamed.load(); }

private:
    void run();
    void handleBytes(const QByteArray &bytes);
    void streamMeasurements(double seconds);
    void writeAll(const QByteArray &bytes);
    void setSigned16(int address, int value);

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_framesStreamed{0};
    mutable std::mutex m_imageLock;
    std::array<quint8, registerCount> m_image{};
    QByteArray m_pending;
};
