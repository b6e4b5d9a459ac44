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

    // The readout's column at the left, as wide as its widest possible line
    // (so it does not jump as the values change); the box is drawn beside it,
    // never under it.
    readonly property real readoutWidth: Math.ceil(Math.max(widestAngle.advanceWidth,
                                                            widestTemperature.advanceWidth)) + 12

    TextMetrics {
        id: widestAngle
        font: rollText.font
        text: qsTr("Pitch:") + "-180.0°"
    }

    TextMetrics {
        id: widestTemperature
        font: temperatureText.font
        text: qsTr("Temperature:") + "-40.0 °C"
    }

    Item {
        id: boxArea
        objectName: "boxArea"
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        anchors.left: parent.left
        anchors.leftMargin: Math.min(root.readoutWidth, parent.width * 0.6)
    }

    // Qt 3D in a Qt Quick scene draws on every frame of the window,
    // changed or not, and keeps the window drawing. So the painted box
    // stands in for it on a software renderer, and whenever no stream is
    // shown (not connected, no data, page hidden, window minimised).
    BoxView {
        id: paintedBox
        objectName: "paintedBox"
        anchors.fill: boxArea
        visible: !scene3dLoader.active
        rotation: root.orientation
    }

    // A hidden Scene3D stalls the GUI thread: Qt 3D waits for a frame that
    // the scene graph never renders. So the view exists only while the page
    // is shown, i.e. not while a calibration page covers it.
    Loader {
        id: scene3dLoader
        objectName: "scene3dLoader"
        anchors.fill: boxArea
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

    // The rods named where they end, in both kinds of view (the painted box
    // works out where, with the camera they share, hidden or not).
    Repeater {
        model: [{ name: "X", color: "#ff5252" }, { name: "Y", color: "#69f0ae" },
                { name: "Z", color: "#448aff" }]

        Text {
            objectName: "axisLabel" + modelData.name
            readonly property point tip: paintedBox.axisTips.length === 3
                                         ? paintedBox.axisTips[index] : Qt.point(-100, -100)
            // Kept inside the box's area when the rod's end leaves it.
            x: boxArea.x + Math.max(0, Math.min(boxArea.width - width, tip.x - width / 2))
            y: boxArea.y + Math.max(0, Math.min(boxArea.height - height, tip.y - height / 2))
            text: modelData.name
            color: modelData.color
            font.bold: true
            font.pixelSize: Math.max(10, boxArea.height / 12)
            style: Text.Outline
            styleColor: "#202020"
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
