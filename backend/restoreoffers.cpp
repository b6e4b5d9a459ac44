// SPDX-License-Identifier: GPL-3.0-or-later
#include "restoreoffers.h"

#include "backendlog.h"

#include <QVariantMap>

RestoreOffers::RestoreOffers(QObject *parent)
    : QObject(parent)
{ }

void RestoreOffers::offer(CalSensor sensor, const QString &port, const CalSavedParams &saved)
{
    RestoreOffer &offer = m_offers[std::size_t(sensor)];
    offer.pending = true;
    offer.shown = false;
    offer.port = port;
    offer.saved = saved;
    offer.saved.block = keptPart(sensor, saved.block);
    qCInfo(lcBackend) << calTarget(sensor).name << "parameters saved at"
                      << saved.at.toString(Qt::ISODate) << "offered when" << port
                      << "opens on the same module";
}

void RestoreOffers::hideAll()
{
    bool hidden = false;
    for (RestoreOffer &offer : m_offers) {
        hidden = hidden || offer.shown;
        offer.shown = false;
    }
    if (hidden)
        emit changed();
}

// Only the module whose identity was read when its parameters were saved, on the
// port it was cut off from, is offered its parameters back.
void RestoreOffers::showFor(const QString &port, const CalIdentity &identity)
{
    bool changedAny = false;
    for (int i = 0; i < calSensorCount; ++i) {
        RestoreOffer &offer = m_offers[std::size_t(i)];
        if (!offer.pending || offer.shown || offer.port != port)
            continue;
        if (!(identity == offer.saved.identity)) {
            qCInfo(lcBackend) << "another module on" << port << "; no"
                              << calTarget(CalSensor(i)).name << "restore offered";
            continue;
        }
        offer.shown = true;
        changedAny = true;
    }
    if (changedAny)
        emit changed();
}

CalSavedParams RestoreOffers::take(CalSensor sensor)
{
    const RestoreOffer offer = m_offers[std::size_t(sensor)];
    m_offers[std::size_t(sensor)] = RestoreOffer();
    emit changed();
    return offer.saved;
}

void RestoreOffers::dismiss(CalSensor sensor)
{
    const bool shown = m_offers[std::size_t(sensor)].shown;
    m_offers[std::size_t(sensor)] = RestoreOffer();
    if (shown)
        emit changed();
}

QVariantList RestoreOffers::list() const
{
    QVariantList offers;
    for (int i = 0; i < calSensorCount; ++i) {
        const auto sensor = CalSensor(i);
        const RestoreOffer &offer = m_offers[std::size_t(sensor)];
        if (!offer.shown)
            continue;
        QVariantList values;
        for (int k = 0; k < calTarget(sensor).floats; ++k)
            values << double(offer.saved.block[std::size_t(k)]);
        QVariantMap map;
        map[QStringLiteral("sensor")] = calSensorName(sensor);
        map[QStringLiteral("port")] = offer.port;
        map[QStringLiteral("savedAt")] = offer.saved.at;
        map[QStringLiteral("values")] = values;
        map[QStringLiteral("text")]
            = tr("A %1 calibration on %2 was cut off. Restore the parameters the module held at "
                 "%3 (%4)?")
                  .arg(calSensorName(sensor), offer.port,
                      offer.saved.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                      valuesText(sensor, offer.saved.block));
        offers << map;
    }
    return offers;
}
