// SPDX-License-Identifier: GPL-3.0-or-later
#include "durUzaBackend.h"

#include "backendlog.h"
#include "connectioncontroller.h"
#include "portlist.h"

#include "link/comsprotocol.h"
#include "link/registerblocks.h"
#include "link/serialports.h"

#include <QDebug>

Q_LOGGING_CATEGORY(lcBackend, "velmar.backend")

using namespace QtDataVisualization;

QString portListEntry(const SerialPortEntry &port)
{
    if (port.description.isEmpty())
        return port.portName;
    return port.portName + QStringLiteral(": ") + port.description;
}

DurUzaBackend::DurUzaBackend(QObject *parent)
    : QObject(parent)
    , m_magVect3(0, 0, 0)
    , m_qQuat(1, 0, 0, 0)
    , m_gatheredPointArray(new QScatterDataArray)
    , m_latestPointArray(std::make_unique<QScatterDataArray>())
    , m_magScatterDataProxy(std::make_unique<QScatterDataProxy>())
{
    // The proxy takes ownership of the array; we keep the pointer to append to it.
    m_magScatterDataProxy->resetArray(m_gatheredPointArray);

    m_coms.setBlockHandler(
        [this](int blockIndex, const quint8 *block) { dispatchBlock(blockIndex, block); });
    connect(&m_coms, &ComsHandler::linkError, this, &DurUzaBackend::onLinkError);
    connect(&m_coms, &ComsHandler::linkOpened, this,
        [](const QString &port) { qCInfo(lcBackend) << "link open on" << port; });
    connect(&m_coms, &ComsHandler::linkClosed, this,
        [](const QString &port) { qCInfo(lcBackend) << "link closed on" << port; });

    m_rows = createRegisterObjects(this);
    for (RegistryItemModel *row : m_rows)
        m_registerList.append(row);
    watchCalibrationLink();
    // --- status strip and ports --- last, so its link handlers run after ours.
    m_connection = new ConnectionController(this);
}

// Members go in reverse order: the catalogue's objects with QObject, the link (which
// stops and waits for its threads, and takes pending delayed writes with it) before.
DurUzaBackend::~DurUzaBackend() = default;

QStringList DurUzaBackend::availablePortsList()
{
    m_portCache.clear();
    m_portNameCache.clear();
    const QList<SerialPortEntry> ports = enumerateSerialPorts();
    for (const SerialPortEntry &port : ports) {
        m_portCache.append(portListEntry(port));
        m_portNameCache.append(port.portName);
    }
    return m_portCache;
}

void DurUzaBackend::connectClicked(int index)
{
    if (m_connected) {
        m_connected = false;
        clearDataProblem();
        m_coms.stop();
        return;
    }
    // The interface passes a combo box index; with no port listed that is -1.
    if (index < 0 || index >= m_portCache.size()) {
        qCWarning(lcBackend) << "connect with port index" << index << "of" << m_portCache.size();
        emit connectionError(QString(), tr("No serial port selected"));
        return;
    }
    m_connected = true;
    qDebug() << "Selected:" << m_portCache.at(index);
    // This may be another module with other ranges: its samples wait until its
    // own "Hardware Version" and "Sensors Range" have been read.
    m_fullScale = FullScales {};
    m_coms.start(m_portNameCache.at(index));
    requestChartData();
}

void DurUzaBackend::onLinkError(const QString &portName, const QString &errorText)
{
    qCWarning(lcBackend) << "link error on" << portName << ":" << errorText;
    m_connected = false;
    clearDataProblem();
    emit connectionError(portName, errorText);
}

// --- status strip and ports ---
QObject *DurUzaBackend::connection() const
{
    return m_connection;
}

void DurUzaBackend::setMagSctr3DSeries(QScatter3DSeries *magSctr3DSeries)
{
    m_magSctr3DSeries = magSctr3DSeries;
}

void DurUzaBackend::setMagSctr3DSeries2(QScatter3DSeries *magSctr3DSeries2)
{
    m_magSctr3DSeries2 = magSctr3DSeries2;
}

void DurUzaBackend::testAction()
{
    emit sdmChanged();
}

void DurUzaBackend::randomFillMagScatter() { }

void DurUzaBackend::setFrameSender(FrameSender sender)
{
    m_frameSender = std::move(sender);
}

const char *DurUzaBackend::blockHandlerName(int blockIndex)
{
    if (blockIndex < 0 || blockIndex >= int(blockHandlerTable.size()))
        return nullptr;
    return blockHandlerTable[std::size_t(blockIndex)].name;
}

void DurUzaBackend::dispatchBlock(int blockIndex, const quint8 *block)
{
    if (blockIndex < 0 || blockIndex >= int(blockHandlerTable.size())) {
        qCWarning(lcBackend) << "no handler for register block" << blockIndex;
        return;
    }
    (this->*blockHandlerTable[std::size_t(blockIndex)].handler)(block);
}
