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
    // A position is being gathered: a wrong face then spoils it.
    property bool gathering: true

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
            // Red only while it spoils a position; before Ready it names the
            // next face to turn to.
            color: panel.gathering ? "#ff5252" : "#80deea"
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
