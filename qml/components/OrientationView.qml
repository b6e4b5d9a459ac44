// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Layouts 1.12
import QtQuick.Scene3D 2.12
import QtGraphicalEffects 1.12
import CustomPlot 1.0
import ".."

// The live page's turning module, with the roll, pitch and yaw readout, the
// magnetic field's strength and the module's temperature over it.
Item {
    id: root

    // What the box shows turned to, and the readout's three lines.
    property quaternion orientation: Qt.quaternion(1, 0, 0, 0)
    property string rollText: ""
    property string pitchText: ""
    property string yawText: ""
    // The magnetic field's strength with its unit, under the angles.
    property string magText: ""
    // Whether the page can be seen: the 3D view and the temperature follow
    // the stream only then.
    property bool liveShown: false

    // Qt 3D in a Qt Quick scene draws on every frame of the window,
    // changed or not, and keeps the window drawing. So the painted box
    // stands in for it on a software renderer, and whenever no stream is
    // shown (not connected, no data, page hidden, window minimised).
    BoxView {
        id: paintedBox
        objectName: "paintedBox"
        anchors.fill: parent
        visible: !scene3dLoader.active
        rotation: root.orientation
    }

    // A hidden Scene3D stalls the GUI thread: Qt 3D waits for a frame that
    // the scene graph never renders. So the view exists only while the page
    // is shown, i.e. not while a calibration page covers it.
    Loader {
        id: scene3dLoader
        objectName: "scene3dLoader"
        anchors.fill: parent
        active: root.liveShown && !RenderPolicy.software && RenderPolicy.streaming
        sourceComponent: Scene3D {
            id: scene3d
            focus: true
            aspects: ["input", "logic"]
            cameraAspectRatioMode: Scene3D.AutomaticAspectRatio
            multisample: true

            AhrsBox {
                id: ahrsBox
                boxRot: root.orientation
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0)

        ColumnLayout {
            id: rpyTextLayout
            anchors.fill: parent

            // Less than half the height, so that the field's and the
            // temperature's lines under the three angles still fit a
            // 600-pixel window.
            Item {
                id: name
                Layout.preferredHeight: rpyTextLayout.height * 0.4
            }

            Text {
                id: rollText
                objectName: "rollText"
                text: root.rollText
                color: Qt.rgba(57 / 255, 106 / 255, 177 / 255, 1)
                font.pointSize: Math.max(1, parent.height / 20)
                Layout.minimumHeight: parent.height / 9
            }

            Text {
                id: pitchText
                objectName: "pitchText"
                text: root.pitchText
                color: Qt.rgba(218 / 255, 124 / 255, 48 / 255, 1)
                font.pointSize: Math.max(1, parent.height / 20)
                Layout.minimumHeight: parent.height / 9
            }

            Text {
                id: yawText
                objectName: "yawText"
                text: root.yawText
                color: Qt.rgba(62 / 255, 150 / 255, 81 / 255, 1)
                font.pointSize: Math.max(1, parent.height / 20)
                Layout.minimumHeight: parent.height / 9
            }

            Text {
                id: magText
                objectName: "magText"
                text: root.magText
                color: Qt.rgba(150 / 255, 60 / 255, 140 / 255, 1)
                font.pointSize: Math.max(1, parent.height / 20)
                // The unit is named whole: a long one shrinks the line.
                Layout.preferredWidth: parent.width
                fontSizeMode: Text.HorizontalFit
                minimumPointSize: 1
                Layout.minimumHeight: parent.height / 9
            }

            TemperatureReadout {
                id: temperatureText
                objectName: "temperatureText"
                // Unseen, the readout does not follow each sample.
                registers: root.liveShown ? backEnd.registers : null
                color: Qt.rgba(83 / 255, 81 / 255, 84 / 255, 1)
                font.pointSize: Math.max(1, parent.height / 20)
                Layout.minimumHeight: parent.height / 9
            }
        }

        DropShadow {
            source: rpyTextLayout
            anchors.fill: rpyTextLayout
            horizontalOffset: 2
            verticalOffset: 2
            samples: 7
            color: "#80000000"
        }
    }
}
