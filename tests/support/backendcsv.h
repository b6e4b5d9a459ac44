// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "durUzaBackend.h"
#include "record.h"
#include "recordingcsv.h"
#include "registercatalogue.h"
#include "registryitemmodel.h"

#include <QByteArray>
#include <QVariantList>

// A CSV row of a recording without its time cell: the values only.
inline QByteArray valueCells(const QByteArray &line)
{
    return line.mid(line.indexOf(',') + 1);
}

// The value cells of the CSV row for what `backend` shows now: the row a backend
// that got a recorded frame alone would give.
inline QByteArray backendValueCells(DurUzaBackend &backend)
{
    MeasurementFrame f;
    f.present = MeasurementFrame::Acc | MeasurementFrame::Gyro | MeasurementFrame::Mag
        | MeasurementFrame::Euler | MeasurementFrame::Quaternion | MeasurementFrame::Temperature;
    auto take = [](const QVariantList &list, float *out, int n) {
        for (int i = 0; i < n; ++i)
            out[i] = list.value(i).toFloat();
    };
    take(backend.accDataList(), f.acc.data(), 3);
    take(backend.gyroDataList(), f.gyro.data(), 3);
    take(backend.magDataList(), f.mag.data(), 3);
    take(backend.eulerDataList(), f.euler.data(), 3);
    take(backend.quatDataList(), f.quat.data(), 4);
    f.temperature
        = qobject_cast<RegistryItemModel *>(backend.registers().value(registerRowAt(0x18)))
              ->data()
              .toDouble();
    return valueCells(csvRow(f).trimmed());
}
