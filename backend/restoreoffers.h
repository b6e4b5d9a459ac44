// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibrationrun.h"

#include <QObject>
#include <QString>
#include <QVariantList>

#include <array>

// Parameters that runs cut off with the link left unrestored, one per sensor.
// Nothing is written by itself: an offer is shown to the user only while the same
// module is back on the same port, and the user restores it or dismisses it.
class RestoreOffers : public QObject
{
    Q_OBJECT

public:
    explicit RestoreOffers(QObject *parent = nullptr);

    // Keeps `saved` for `sensor`, to be shown when `port` opens on the same module.
    void offer(CalSensor sensor, const QString &port, const CalSavedParams &saved);
    // The link is gone: shown offers wait until the module is back.
    void hideAll();
    // Shows the offers made on `port` to the module of `identity`.
    void showFor(const QString &port, const CalIdentity &identity);

    bool isPending(CalSensor sensor) const { return m_offers[std::size_t(sensor)].pending; }
    bool isShown(CalSensor sensor) const { return m_offers[std::size_t(sensor)].shown; }
    // Removes the offer for `sensor` and hands out what it would restore.
    CalSavedParams take(CalSensor sensor);
    void dismiss(CalSensor sensor);

    // The shown offers for the interface: maps of sensor, port, savedAt, values and text.
    QVariantList list() const;

signals:
    void changed();

private:
    std::array<RestoreOffer, calSensorCount> m_offers {};
};
