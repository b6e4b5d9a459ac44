#pragma once

#include <QtGlobal>

#include <array>
#include <atomic>
#include <vector>

// Wire protocol state of one link: request building, the frame cutter and the
// local mirror of the module's 176 registers with one updated flag per byte.
// No lock of its own: ComsHandler and ProcessThread keep the threads apart.
class ComsProtocol
{
public:
    static constexpr int ImageSize = 176;

    ComsProtocol();
    ~ComsProtocol();

    ComsProtocol(const ComsProtocol &) = delete;
    ComsProtocol &operator=(const ComsProtocol &) = delete;

    // Requests overwrite one shared buffer: copy frameData() out before the next build.
    void buildReadRequest(quint8 address, quint8 count);
    void buildWriteRequest(quint8 address, quint8 length, const quint8 *data);
    const quint8 *frameData() const;
    int frameLength() const;

    void appendReceived(const char *data, qint32 length);
    void extractFrames();

    quint8 *registerImage();
    quint8 *updatedFlags();
    void clearUpdatedFlags();
    // True while any updated flag is set: lets a dispatch pass that follows a
    // pass without a complete frame return at once. Readable without the
    // processing lock: a frame stored after a false answer is followed by a
    // processFinished of its own, whose dispatch pass sees it.
    bool hasUpdatedFlags() const { return m_flagsSet.load(std::memory_order_acquire); }
    quint8 moduleStatus() const;
    qint32 incompletePasses() const;

    // Received bytes not yet consumed by the cutter.
    int pendingBytes() const;

private:
    void dropPending(std::size_t count);
    void storeFrame(quint8 address, const quint8 *data, int count);

    std::array<quint8, ImageSize> m_registerImage{};
    std::array<quint8, ImageSize> m_updatedFlags{};
    // Consumed bytes are skipped by m_readOffset and only compacted away now and
    // then, so the cutter's cost stays linear however the bytes arrive.
    std::vector<quint8> m_receiveBuffer;
    std::size_t m_readOffset = 0;
    std::array<quint8, 300> m_requestFrame{};
    qint32 m_requestLength = 0;
    qint32 m_incompletePasses = 0;
    quint8 m_moduleStatus = 0;
    std::atomic<bool> m_flagsSet{false};
};
