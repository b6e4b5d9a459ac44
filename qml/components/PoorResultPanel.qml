// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

// A result scored below the floor waits for the user, who sees its score: the
// module keeps neutral parameters until one of the two is chosen. The panel
// covers the page, so that nothing else can be pressed meanwhile.
MouseArea {
    id: panel
    objectName: "confirmOverlay"
    anchors.fill: parent
    visible: panel.quality >= 0
    z: 10

    // The score in question; below 0 while nothing is asked.
    property real quality: -1
    // What held the score down (coverage, spread, drift), or empty.
    property string reason: ""

    signal writeChosen()
    signal discardChosen()

    Rectangle {
        anchors.fill: parent
        color: "#99000000"
    }

    Rectangle {
        anchors.centerIn: parent
        width: parent.width * 0.8
        height: confirmColumn.implicitHeight + 32
        color: "#263238"
        radius: 4

        ColumnLayout {
            id: confirmColumn
            anchors.fill: parent
            anchors.margins: 16
            spacing: 12

            Label {
                objectName: "confirmText"
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                color: "white"
                font.pixelSize: 18
                text: qsTr("Calibration quality %1/100 is below 50. Written, it may make the readings worse than the calibration the module had.").arg(Math.round(panel.quality))
            }

            Label {
                objectName: "confirmReason"
                Layout.fillWidth: true
                visible: panel.reason !== ""
                wrapMode: Text.WordWrap
                color: "#ffcc80"
                font.pixelSize: 15
                text: panel.reason
            }

            RowLayout {
                Layout.fillWidth: true

                Button {
                    objectName: "buttonWriteAnyway"
                    Layout.fillWidth: true
                    text: qsTr("Write anyway")
                    onClicked: {
                        panel.quality = -1
                        panel.reason = ""
                        panel.writeChosen()
                    }
                }

                Button {
                    objectName: "buttonDiscard"
                    Layout.fillWidth: true
                    text: qsTr("Discard")
                    onClicked: {
                        panel.quality = -1
                        panel.reason = ""
                        panel.discardChosen()
                    }
                }
            }
        }
    }
}
