// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness for everything received bytes go through: the frame cutter,
// the dispatch pass and the backend's block handlers (a real DurUzaBackend, fed
// on this thread exactly as the processing thread and the dispatch pass feed it).
//
// Input: a sequence of chunks, each a control byte c followed by (c & 0x3F)
// bytes off the line (fewer at the end of the input).
//   bit 7 of c: the chunk is taken in the same processing pass as the next one
//               (the worker queued both before the pass ran);
//   bit 6 of c: a dispatch pass runs after this chunk (otherwise flags pile up,
//               as when the GUI thread is busy).
// A chunk of length 0 carries only its dispatch bit: the link never runs a
// processing pass without a chunk. The input ends with a pass (if bytes are
// waiting for one) and a dispatch pass.
// A length-0 chunk with bit 7 set is instead a request the link sends,
// described by the next bytes k, x, y: k & 1 a write of "Control1" := x (k & 2:
// inside a 4-byte write from two registers before it), otherwise a read of y bytes from x. The
// first request begins a connection (the cutter then judges headers), as does
// any whose k has bit 7 set.
//
// After every processing pass the real cutter must agree with CutterModel on the
// register image, the updated flags, the status byte, the pass count and the
// bytes left over; after every dispatch pass each register of a flagged block
// must have been stored exactly once with the value its bytes decode to (sensor
// readings only once their full scale is known), and no other register touched.
// Writes outside the image's bytes land in the flags that follow it (caught by
// the flag comparison) or in the receive buffer (ASan).

#include "cuttermodel.h"

#include "comshandler.h"
#include "comsprotocol.h"
#include "durUzaBackend.h"
#include "registerblocks.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"
#include "storedframes.h"

#include <QCoreApplication>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void fail(const char *what, int detail = -1)
{
    std::fprintf(stderr, "fuzz_link: %s (%d)\n", what, detail);
    std::abort();
}

void check(bool ok, const char *what, int detail = -1)
{
    if (!ok)
        fail(what, detail);
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

enum class Decode { Integer, Real, AccScaled, GyroScaled, MagScaled, Quaternion, Euler, Other };

Decode decodeOf(const RegisterInfo &info)
{
    const int a = info.address;
    switch (info.width) {
    case RegisterWidth::U8:
    case RegisterWidth::U16:
        return Decode::Integer;
    case RegisterWidth::F32:
        return Decode::Real;
    case RegisterWidth::I16:
        break;
    }
    using namespace RegisterMap;
    if (Acc.contains(a) || LinearAcc.contains(a) || Gravity.contains(a))
        return Decode::AccScaled;
    if (Gyro.contains(a))
        return Decode::GyroScaled;
    if (Mag.contains(a))
        return Decode::MagScaled;
    if (Quaternion.contains(a))
        return Decode::Quaternion;
    if (Euler.contains(a))
        return Decode::Euler;
    return Decode::Other; // temperature: stored, its formula is the backend's
}

// Block index of every image address, looked up once: the dispatch check needs it
// for every byte of every pass.
const std::array<int, CutterModel::imageSize> &blockOfAddress()
{
    static const std::array<int, CutterModel::imageSize> table = [] {
        std::array<int, CutterModel::imageSize> t {};
        for (int a = 0; a < CutterModel::imageSize; ++a)
            t[std::size_t(a)] = registerBlockAt(a);
        return t;
    }();
    return table;
}

// A backend and the model, fed the same chunks.
class Rig
{
public:
    Rig()
        : m_coms(m_backend.comsHandler())
        , m_protocol(m_coms->protocol())
    {
        // Awaited answers never expire within one input.
        m_protocol->setClock([]() -> qint64 { return 0; });
        const QList<QObject *> rows = m_backend.registers();
        check(rows.size() == registerCount, "register count", rows.size());
        for (int i = 0; i < registerCount; ++i) {
            auto *row = qobject_cast<RegistryItemModel *>(rows.at(i));
            check(row != nullptr, "register object", i);
            m_rows[std::size_t(i)] = row;
            QObject::connect(row, &RegistryItemModel::dataUpdatedFromModule,
                [this, i] { ++m_stores[std::size_t(i)]; });
        }
    }

    void chunk(const quint8 *bytes, std::size_t count)
    {
        m_protocol->appendReceived(reinterpret_cast<const char *>(bytes), qint32(count));
        m_model.append(bytes, count);
    }

    void request(quint8 kind, quint8 x, quint8 y)
    {
        if (!m_connected || (kind & 0x80)) {
            m_protocol->beginConnection();
            m_model.beginConnection();
            m_connected = true;
        }
        constexpr quint8 control1 = RegisterMap::Control1.address;
        QByteArray frame;
        if (kind & 1) {
            if (kind & 2) {
                const quint8 data[] = {y, quint8(y ^ 0x5A), x, 0x00};
                frame = writeRequest(control1 - 2, data, 4);
            } else {
                frame = writeRequest(control1, &x, 1);
            }
            m_model.control1Written(x);
        } else {
            frame = readRequest(x, y);
            m_model.readSent(x, y);
        }
        m_protocol->noteRequestSent(frame);
        check(m_protocol->awaitedAnswers() == int(m_model.awaited()), "awaited answers");
        check(m_protocol->streamingMode() == m_model.streamingMode, "streaming mode");
    }

    void processingPass()
    {
        m_protocol->extractFrames();
        m_model.pass();

        const std::array<quint8, RegisterMap::Size> image = m_coms->registerImageSnapshot();
        for (int i = 0; i < CutterModel::imageSize; ++i)
            check(image[std::size_t(i)] == m_model.image[std::size_t(i)], "image byte", i);
        check(std::memcmp(m_protocol->updatedFlags(), m_model.flags.data(), RegisterMap::Size) == 0,
            "flags");
        check(m_protocol->moduleStatus() == m_model.status, "status");
        check(m_protocol->incompletePasses() == m_model.incompletePasses, "incomplete passes",
            m_protocol->incompletePasses());
        check(std::size_t(m_protocol->pendingBytes()) == m_model.pending(), "pending bytes",
            m_protocol->pendingBytes());
        check(m_protocol->awaitedAnswers() == int(m_model.awaited()), "awaited answers");
        check(m_protocol->streamingMode() == m_model.streamingMode, "streaming mode");
    }

    void dispatchPass()
    {
        const float accScale = m_backend.accFullScale();
        const float gyroScale = m_backend.gyroFullScale();
        const float magScale = m_backend.magFullScale();
        const std::array<int, CutterModel::imageSize> &blockOf = blockOfAddress();
        std::array<bool, registerBlocks.size()> flagged {};
        for (int a = 0; a < CutterModel::imageSize; ++a)
            flagged[std::size_t(blockOf[std::size_t(a)])] |= m_model.flags[std::size_t(a)] != 0;

        m_stores.fill(0);
        m_coms->process();
        m_model.clearFlags();

        const quint8 *image = m_model.image.data();
        for (int i = 0; i < registerCount; ++i) {
            const RegisterInfo &info = registerCatalogue[std::size_t(i)];
            const Decode decode = decodeOf(info);
            const quint8 *bytes = image + info.address;
            float scale = 1;
            if (decode == Decode::AccScaled)
                scale = accScale;
            else if (decode == Decode::GyroScaled)
                scale = gyroScale;
            else if (decode == Decode::MagScaled)
                scale = magScale;
            // Every scaled block comes before "Sensors Range" in address order, so
            // the full scale in force is the one from before this pass.
            const bool expectStore = flagged[std::size_t(blockOf[info.address])] && scale > 0;
            // Measurements are handed over once per frame that carried them (every
            // sample reaches the charts), the latest last; anything else once.
            const bool perFrame = RegisterMap::Measurements.contains(info.address);
            const int stores = m_stores[std::size_t(i)];
            if (!expectStore)
                check(stores == 0, "stores of register", i);
            else if (perFrame)
                check(stores >= 1 && stores <= StoredFrames::limit + 1, "stores of register", i);
            else
                check(stores == 1, "stores of register", i);
            if (!expectStore)
                continue;
            const QVariant value = m_rows[std::size_t(i)]->data();
            switch (decode) {
            case Decode::Integer:
                check(
                    value.toInt() == (info.width == RegisterWidth::U8 ? bytes[0] : readU16(bytes)),
                    "integer register", i);
                break;
            case Decode::Real:
                check(sameBits(value.toFloat(), readF32(bytes)), "real register", i);
                break;
            case Decode::AccScaled:
            case Decode::GyroScaled:
            case Decode::MagScaled:
                check(sameBits(value.toFloat(), float(readI16(bytes) / 32768.0 * scale)),
                    "scaled register", i);
                break;
            case Decode::Quaternion:
                check(sameBits(value.toFloat(), float(readI16(bytes) / 1000.0)), "quaternion", i);
                break;
            case Decode::Euler:
                check(sameBits(value.toFloat(), float(readI16(bytes) / 100.0)), "euler angle", i);
                break;
            case Decode::Other:
                check(value.isValid(), "stored register", i);
                break;
            }
        }
        for (int a = 0; a < CutterModel::imageSize; ++a)
            check(m_protocol->updatedFlags()[a] == 0, "flag left after dispatch", a);
    }

private:
    DurUzaBackend m_backend;
    ComsHandler *m_coms;
    ComsProtocol *m_protocol;
    CutterModel m_model;
    std::array<RegistryItemModel *, registerCount> m_rows {};
    std::array<int, registerCount> m_stores {};
    bool m_connected = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The cutter and the handlers log on every status message and every sample
    // of unknown range; millions of executions would drown in it.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
            std::abort();
        }
    });
    static int argc = 1;
    static char name[] = "fuzz_link";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, std::size_t size)
{
    Rig rig;
    std::size_t at = 0;
    bool passDue = false;
    while (at < size) {
        const quint8 control = data[at++];
        if ((control & 0xBF) == 0x80) {
            if (size - at < 3)
                break;
            rig.request(data[at], data[at + 1], data[at + 2]);
            at += 3;
            if (control & 0x40)
                rig.dispatchPass();
            continue;
        }
        const std::size_t length = std::min<std::size_t>(control & 0x3F, size - at);
        if (length > 0) {
            rig.chunk(data + at, length);
            at += length;
            passDue = true;
            if (!(control & 0x80)) {
                rig.processingPass();
                passDue = false;
            }
        }
        if (control & 0x40)
            rig.dispatchPass();
    }
    if (passDue)
        rig.processingPass();
    rig.dispatchPass();
    return 0;
}
