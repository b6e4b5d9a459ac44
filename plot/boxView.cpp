// SPDX-License-Identifier: GPL-3.0-or-later
#include "boxView.h"

#include <QMatrix4x4>
#include <QPainter>
#include <QVector3D>

#include <algorithm>
#include <cmath>

namespace {

// The camera of the Qt 3D view: at (50, 0, 0) looking at the origin, the
// screen's up along -z, a vertical field of view of 5 degrees.
constexpr double cameraDistance = 50.0;
constexpr double halfFieldOfViewDegrees = 2.5;

struct Material
{
    QColor ambient;
    QColor diffuse;
};

const Material grey {QColor(0x77, 0x77, 0x77), QColor(0x88, 0x88, 0x88)};
const Material red {QColor(0xff, 0x00, 0x00), QColor(0xcc, 0x88, 0x88)};
const Material green {QColor(0x00, 0xff, 0x00), QColor(0x88, 0xcc, 0x88)};
const Material blue {QColor(0x00, 0x00, 0xff), QColor(0x88, 0x88, 0xff)};

struct Polygon3
{
    QVector<QVector3D> corners; // counter-clockwise seen from outside
    const Material *material;
};

void addCuboid(QVector<Polygon3> &out, const QVector3D &half, const Material &material)
{
    const float x = half.x(), y = half.y(), z = half.z();
    const QVector3D c[8] = {{-x, -y, -z}, {x, -y, -z}, {x, y, -z}, {-x, y, -z}, {-x, -y, z},
        {x, -y, z}, {x, y, z}, {-x, y, z}};
    const int faces[6][4]
        = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
    for (const auto &face : faces)
        out.append({{c[face[0]], c[face[1]], c[face[2]], c[face[3]]}, &material});
}

// A rod of radius 0.3 from the origin to 2 along `axis`, as Qt 3D's cylinder
// of length 2 moved by 1 along that axis; only the part outside the box, from
// `start`, since the faces are sorted by depth rather than per pixel.
void addRod(QVector<Polygon3> &out, const QVector3D &axis, float start, const Material &material)
{
    constexpr int slices = 16;
    constexpr float radius = 0.3f;
    const QVector3D u = std::abs(axis.z()) < 0.9f
        ? QVector3D::crossProduct(axis, {0, 0, 1}).normalized()
        : QVector3D::crossProduct(axis, {1, 0, 0}).normalized();
    const QVector3D v = QVector3D::crossProduct(axis, u);
    const QVector3D top = axis * (2.0f - start);
    QVector<QVector3D> ring;
    for (int i = 0; i < slices; ++i) {
        const double a = 2 * M_PI * i / slices;
        ring.append(axis * start + radius * (float(std::cos(a)) * u + float(std::sin(a)) * v));
    }
    QVector<QVector3D> bottomCap, topCap;
    for (int i = 0; i < slices; ++i) {
        const QVector3D &p = ring.at(i);
        const QVector3D &q = ring.at((i + 1) % slices);
        out.append({{p, q, q + top, p + top}, &material});
        topCap.append(p + top);
        bottomCap.prepend(p);
    }
    out.append({topCap, &material});
    out.append({bottomCap, &material});
}

const QVector<Polygon3> &scene()
{
    static const QVector<Polygon3> polygons = [] {
        QVector<Polygon3> all;
        const QVector3D half(1.31f, 0.81f, 0.5f);
        addCuboid(all, half, grey);
        addRod(all, {1, 0, 0}, half.x(), red);
        addRod(all, {0, 1, 0}, half.y(), green);
        addRod(all, {0, 0, 1}, half.z(), blue);
        return all;
    }();
    return polygons;
}

// Close to what Qt 3D's Phong material shows with its default light: the
// ambient colour darkened away from the light, a highlight of the diffuse
// colour where a face looks straight at it.
int channel(double ambient, double diffuse, double facing)
{
    const double shade = ambient * (0.5 + 0.5 * facing) + diffuse * 0.3 * std::pow(facing, 8);
    return std::clamp(int(std::lround(shade)), 0, 255);
}

} // namespace

BoxView::BoxView(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setFlag(ItemHasContents, true);
}

void BoxView::setRotation(const QQuaternion &rotation)
{
    if (rotation == m_rotation)
        return;
    m_rotation = rotation;
    emit rotationChanged();
    emit axisTipsChanged();
    update();
}

void BoxView::geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChanged(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        emit axisTipsChanged();
}

QPointF BoxView::axisTip(const QQuaternion &rotation, const QSizeF &size, int axis)
{
    const QQuaternion turn = rotation.isNull() ? QQuaternion() : rotation.normalized();
    // The rods end at 2; the label sits a little beyond, clear of the rod's end.
    QVector3D tip;
    tip[std::clamp(axis, 0, 2)] = 2.3f;
    const QVector3D p = turn.rotatedVector(tip);
    const double scale = size.height() / 2 / std::tan(halfFieldOfViewDegrees * M_PI / 180);
    const double depth = cameraDistance - p.x();
    return QPointF(
        size.width() / 2 - p.y() / depth * scale, size.height() / 2 + p.z() / depth * scale);
}

QVariantList BoxView::axisTips() const
{
    QVariantList tips;
    for (int axis = 0; axis < 3; ++axis)
        tips.append(axisTip(m_rotation, size(), axis));
    return tips;
}

QVector<BoxView::Face> BoxView::visibleFaces(const QQuaternion &rotation, const QSizeF &size)
{
    QVector<Face> faces;
    if (size.isEmpty())
        return faces;
    const QQuaternion turn = rotation.isNull() ? QQuaternion() : rotation.normalized();
    const double scale = size.height() / 2 / std::tan(halfFieldOfViewDegrees * M_PI / 180);
    const QVector3D eye(float(cameraDistance), 0, 0);
    for (const Polygon3 &polygon : scene()) {
        QVector<QVector3D> corners;
        QVector3D centre;
        for (const QVector3D &corner : polygon.corners) {
            corners.append(turn.rotatedVector(corner));
            centre += corners.last();
        }
        centre /= float(corners.size());
        const QVector3D normal = QVector3D::normal(corners.at(0), corners.at(1), corners.at(2));
        const QVector3D toEye = (eye - centre).normalized();
        const double facing = QVector3D::dotProduct(normal, toEye);
        if (facing <= 0)
            continue;
        Face face;
        for (const QVector3D &p : corners) {
            const double depth = cameraDistance - p.x();
            // Screen right is -y, screen up is -z.
            face.outline << QPointF(size.width() / 2 - p.y() / depth * scale,
                size.height() / 2 + p.z() / depth * scale);
        }
        face.depth = cameraDistance - centre.x();
        // Lit from the camera, as Qt 3D's default light.
        const Material &m = *polygon.material;
        face.colour = QColor(channel(m.ambient.red(), m.diffuse.red(), facing),
            channel(m.ambient.green(), m.diffuse.green(), facing),
            channel(m.ambient.blue(), m.diffuse.blue(), facing));
        faces.append(face);
    }
    std::stable_sort(
        faces.begin(), faces.end(), [](const Face &a, const Face &b) { return a.depth > b.depth; });
    return faces;
}

void BoxView::paint(QPainter *painter)
{
    painter->setPen(Qt::NoPen);
    for (const Face &face : visibleFaces(m_rotation, size())) {
        painter->setBrush(face.colour);
        painter->drawPolygon(face.outline);
    }
}
