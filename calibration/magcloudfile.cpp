// SPDX-License-Identifier: GPL-3.0-or-later
#include "magcloudfile.h"

#include "checkedfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

const QString formatName = QStringLiteral("velmar-mag-cloud");

QJsonArray reals(const float *values, int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(double(values[i]));
    return array;
}

bool readReals(const QJsonValue &value, int count, float *into)
{
    const QJsonArray array = value.toArray();
    if (array.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        if (!array[i].isDouble() || !std::isfinite(array[i].toDouble()))
            return false;
        into[i] = float(array[i].toDouble());
    }
    return true;
}

} // namespace

bool saveMagCloud(const QString &path, const MagCloud &cloud, QString *error)
{
    QJsonArray points;
    for (const Sample4 &p : cloud.points) {
        const float xyz[3] = {p.x(), p.y(), p.z()};
        points.append(reals(xyz, 3));
    }
    const QJsonObject root {{QStringLiteral("format"), formatName},
        {QStringLiteral("formatVersion"), 1}, {QStringLiteral("fullScale"), cloud.fullScale},
        {QStringLiteral("active"),
            QJsonObject {{QStringLiteral("offset"), reals(cloud.active.data(), 3)},
                {QStringLiteral("matrix"), reals(cloud.active.data() + 3, 9)}}},
        {QStringLiteral("points"), points}};
    const QString problem
        = CheckedFile::save(path, QJsonDocument(root).toJson(QJsonDocument::Compact));
    if (!problem.isEmpty())
        *error = problem;
    return problem.isEmpty();
}

bool loadMagCloud(const QString &path, MagCloud *cloud, QString *error)
{
    // A cloud of an hour at 100 Hz, every point kept, is about 120 MB.
    const CheckedFile::Loading loading = CheckedFile::load(path, qint64(256) << 20);
    if (!loading.ok()) {
        *error = loading.error;
        return false;
    }
    QJsonParseError parse {};
    const QJsonDocument document = QJsonDocument::fromJson(loading.data, &parse);
    const QJsonObject root = document.object();
    if (document.isNull() || root.value(QStringLiteral("format")).toString() != formatName) {
        *error = QStringLiteral("not a kept magnetometer cloud");
        return false;
    }
    if (root.value(QStringLiteral("formatVersion")).toInt() != 1) {
        *error = QStringLiteral("cloud format version %1 is not known")
                     .arg(root.value(QStringLiteral("formatVersion")).toInt());
        return false;
    }
    MagCloud read;
    read.fullScale = root.value(QStringLiteral("fullScale")).toDouble();
    const QJsonObject active = root.value(QStringLiteral("active")).toObject();
    if (!readReals(active.value(QStringLiteral("offset")), 3, read.active.data())
        || !readReals(active.value(QStringLiteral("matrix")), 9, read.active.data() + 3)) {
        *error = QStringLiteral("the active calibration is not 12 finite reals");
        return false;
    }
    const QJsonArray points = root.value(QStringLiteral("points")).toArray();
    read.points.reserve(std::size_t(points.size()));
    for (int i = 0; i < points.size(); ++i) {
        float xyz[3];
        if (!readReals(points[i], 3, xyz)) {
            *error = QStringLiteral("point %1 is not three finite reals").arg(i + 1);
            return false;
        }
        read.points.emplace_back(xyz[0], xyz[1], xyz[2], 0.0f);
    }
    *cloud = read;
    return true;
}
