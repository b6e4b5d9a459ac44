// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPolygonF>
#include <QQuaternion>
#include <QQuickPaintedItem>
#include <QVariantList>
#include <QVector>

// The module as a grey box with a red, a green and a blue rod along its x, y
// and z axes, turned by `rotation`: the live page's 3D view drawn with a
// painter, for software OpenGL. The same scene, camera and colours as the
// Qt 3D view (AhrsBox.qml), flat-shaded per face, without multisampling. It
// draws only when the rotation changes, where Qt 3D's view in a Qt Quick
// scene draws a frame on every frame of the window.
class BoxView : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QQuaternion rotation READ rotation WRITE setRotation NOTIFY rotationChanged)
    // Where the labels of the x, y and z rods go, in item pixels (three QPointF).
    Q_PROPERTY(QVariantList axisTips READ axisTips NOTIFY axisTipsChanged)

public:
    explicit BoxView(QQuickItem *parent = nullptr);

    QQuaternion rotation() const { return m_rotation; }
    void setRotation(const QQuaternion &rotation);

    void paint(QPainter *painter) override;

    struct Face
    {
        QPolygonF outline; // in item pixels
        QColor colour;
        double depth = 0; // distance from the camera, larger is farther
    };
    // The faces turned towards the camera, farthest first, for an item of
    // `size` (the camera's vertical field of view spans its height).
    static QVector<Face> visibleFaces(const QQuaternion &rotation, const QSizeF &size);
    // Just beyond the end of the rod along `axis` (0 = x, 1 = y, 2 = z), on
    // screen, for an item of `size`; the same camera as visibleFaces.
    static QPointF axisTip(const QQuaternion &rotation, const QSizeF &size, int axis);

    QVariantList axisTips() const;

signals:
    void rotationChanged();
    void axisTipsChanged();

protected:
    void geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    QQuaternion m_rotation;
};
