// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "modulefile.h"
#include "registermap.h"

#include "comshandler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <functional>

class QEventLoop;

using RegisterImage = std::array<quint8, RegisterMap::Size>;

// The application's link driven one request at a time, for velmar-cli: open a
// port, read a span and wait for the module's answer to that read, write and
// read back. Runs on the thread that made it, turning the event loop while it
// waits; nothing here retries or sends anything the caller did not ask for.
class ModuleLink : public QObject
{
    Q_OBJECT
public:
    enum class Failure {
        None,
        Port, // the port is not a serial device, cannot be opened, or failed
        Silent, // the module did not answer a read in time
        Unconfirmed, // answers kept disagreeing on which module this is
    };

    explicit ModuleLink(int answerTimeoutMs, QObject *parent = nullptr);
    ~ModuleLink() override;

    // Whether `port` can name a serial port, without opening anything: a port
    // the system lists (by name or device path) or a character device. Returns
    // the name to open, or an empty string with the reason in `why`.
    static QString resolvePort(const QString &port, QString *why);

    // Opens the port (resolved as above) and waits for the link to be up; an
    // earlier failure is forgotten.
    bool open(const QString &port, int openTimeoutMs = 5000);
    void close();
    QString portName() const { return m_portName; }

    // Sends a read of `span` and waits for the module's answer to it; the bytes,
    // or an empty array with failure() set.
    QByteArray read(RegisterSpan span);
    // The whole register space, read now.
    bool readImage(RegisterImage *image);
    // The same, then the identity registers read apart, which must agree with
    // the map: a module left streaming sends bytes that can pass for the
    // answer to a read. A disagreement reads both again, a few times at most.
    bool readConfirmedImage(RegisterImage *image);
    static constexpr int ConfirmAttempts = 4;
    // Identity registers, read now.
    bool readIdentity(ModuleFileIdentity *identity);
    // Sends a write; it leaves in order with every later request.
    void write(quint8 address, const QByteArray &data);
    // Writes `data` at `address`, then reads the span back: true when the module
    // answered; `heldBack` gets what it holds.
    bool writeAndReadBack(quint8 address, const QByteArray &data, QByteArray *heldBack);

    // Hears every data frame the link takes (answers and streamed blocks) as
    // "BB address count data", stamped with microseconds on the link's clock,
    // on this thread. An empty tap stops it.
    using FrameTap = std::function<void(qint64 timeUs, const QByteArray &frame)>;
    void setFrameTap(FrameTap tap) { m_tap = std::move(tap); }

    // Turns the event loop for that long: paces requests without blocking the link.
    static void pause(int milliseconds);

    Failure failure() const { return m_failure; }
    // Whether the port failed or vanished since it was opened.
    bool portLost() const { return m_linkFailed; }
    QString error() const { return m_error; }

private:
    struct Frame
    {
        quint8 address;
        quint8 count;
        QByteArray data;
    };
    static void observeFrame(void *context, quint8 address, quint8 count, const quint8 *data);
    void fail(Failure failure, const QString &why);
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    void wake();

    QEventLoop *m_loop = nullptr;
    FrameTap m_tap;
    // Started at construction; read from the processing thread too.
    QElapsedTimer m_clock;
    ComsHandler m_coms;
    int m_answerTimeoutMs;
    QString m_portName;
    bool m_open = false;
    bool m_linkFailed = false;
    QByteArray m_answer;
    RegisterSpan m_awaited {0, 0};
    bool m_awaiting = false;
    Failure m_failure = Failure::None;
    QString m_error;
};
