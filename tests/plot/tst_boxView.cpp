// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot.h"

#include <QSignalSpy>
#include <QtTest>

class TestBoxView : public QObject
{
    Q_OBJECT

private:
    static bool isRed(const QColor &c)
    {
        return c.red() > 150 && c.green() < 100 && c.blue() < 100;
    }
    static bool isGrey(const QColor &c) { return c.red() == c.green() && c.green() == c.blue(); }

private slots:
    void facesAreSortedFarthestFirstAndCentred()
    {
        const QSizeF size(340, 256);
        const QVector<BoxView::Face> faces = BoxView::visibleFaces(QQuaternion(), size);
        QVERIFY(!faces.isEmpty());
        for (int i = 1; i < faces.size(); ++i)
            QVERIFY(faces.at(i - 1).depth >= faces.at(i).depth);
        // Unturned, the camera on +x looks at the box's +x face, 1.62 wide
        // and 1.0 high, in the middle of the view.
        QRectF box;
        for (const BoxView::Face &face : faces) {
            if (isGrey(face.colour))
                box = box.united(face.outline.boundingRect());
        }
        QVERIFY(qAbs(box.center().x() - size.width() / 2) < 1);
        QVERIFY(qAbs(box.center().y() - size.height() / 2) < 1);
        QVERIFY(qAbs(box.width() / box.height() - 1.62) < 0.05);
        // The red rod points at the camera: its end is drawn last, over the box.
        QVERIFY(isRed(faces.last().colour));
    }

    void turnedAwayRodIsHidden()
    {
        // Half a turn about z: the red rod points away, behind the box.
        const auto faces
            = BoxView::visibleFaces(QQuaternion::fromAxisAndAngle(0, 0, 1, 180), QSizeF(340, 256));
        QVERIFY(!faces.isEmpty());
        QVERIFY(isGrey(faces.last().colour));
        // Turned a quarter about z, +y faces the camera: the green rod's end last.
        const auto quarter
            = BoxView::visibleFaces(QQuaternion::fromAxisAndAngle(0, 0, 1, -90), QSizeF(340, 256));
        const QColor last = quarter.last().colour;
        QVERIFY2(last.green() > 150 && last.red() < 150, qPrintable(last.name()));
    }

    void screenAxesFollowTheCamera()
    {
        // The camera's up is -z: unturned, the z rod points down on screen.
        const QSizeF size(340, 256);
        const auto faces = BoxView::visibleFaces(QQuaternion(), size);
        QRectF blue;
        for (const BoxView::Face &face : faces) {
            if (face.colour.blue() > 150 && face.colour.red() < 150)
                blue = blue.united(face.outline.boundingRect());
        }
        QVERIFY(!blue.isEmpty());
        QVERIFY(blue.center().y() > size.height() / 2); // +z is down on screen
    }

    void axisLabelsSitBeyondTheirRods()
    {
        const QSizeF size(340, 256);
        const QPointF centre(size.width() / 2, size.height() / 2);
        // Unturned, x points at the camera, y to the left and z down on screen.
        const QPointF x = BoxView::axisTip(QQuaternion(), size, 0);
        QVERIFY(qAbs(x.x() - centre.x()) < 0.5 && qAbs(x.y() - centre.y()) < 0.5);
        QVERIFY(BoxView::axisTip(QQuaternion(), size, 1).x() < centre.x() - 50);
        QVERIFY(BoxView::axisTip(QQuaternion(), size, 2).y() > centre.y() + 50);
        // A quarter turn about z takes x to where y was.
        const QQuaternion quarter = QQuaternion::fromAxisAndAngle(0, 0, 1, 90);
        const QPointF turned = BoxView::axisTip(quarter, size, 0);
        const QPointF y = BoxView::axisTip(QQuaternion(), size, 1);
        QVERIFY2(qAbs(turned.x() - y.x()) < 0.5 && qAbs(turned.y() - y.y()) < 0.5,
            qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                           .arg(turned.x())
                           .arg(turned.y())
                           .arg(y.x())
                           .arg(y.y())));

        BoxView view;
        view.setSize(size);
        QSignalSpy moved(&view, &BoxView::axisTipsChanged);
        view.setRotation(quarter);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(view.axisTips().value(0).toPointF(), turned);
    }

    void emptyItemHasNoFaces()
    {
        QVERIFY(BoxView::visibleFaces(QQuaternion(), QSizeF(0, 100)).isEmpty());
    }

    void rotationChangesOnlyOnANewValue()
    {
        BoxView view;
        QSignalSpy changed(&view, &BoxView::rotationChanged);
        const QQuaternion turn = QQuaternion::fromAxisAndAngle(1, 0, 0, 30);
        view.setRotation(turn);
        view.setRotation(turn);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(view.rotation(), turn);
    }
};

QTEST_MAIN(TestBoxView)
#include "tst_boxView.moc"
