// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Beside the accelerometer chart: the face up now, a wrong face named at once,
// and what the last run's pose check found.
Rectangle {
    id: panel
    objectName: "accFacePanel"
    color: "#263238"
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null

    Column {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8

        Label {
            text: qsTr("Face up now")
        }

        Label {
            objectName: "faceUpText"
            font.pixelSize: 28
            font.bold: true
            text: panel.guide && panel.guide.faceUp !== "" ? panel.guide.faceUp : qsTr("(moving)")
        }

        Label {
            objectName: "faceProblemText"
            width: parent.width
            wrapMode: Text.WordWrap
            font.pixelSize: 18
            font.bold: true
            color: "#ff5252"
            text: panel.guide ? panel.guide.faceProblem : ""
        }

        Label {
            objectName: "accVerdictText"
            width: parent.width
            wrapMode: Text.WordWrap
            color: "#ffb74d"
            text: panel.guide ? panel.guide.accVerdict : ""
        }

        ReportButton {
            sensor: "accelerometer"
        }
    }
}
