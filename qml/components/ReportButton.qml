// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Opens the report of the page's latest run: what the module held before and
// was given, the residuals, the score and what it rests on, and the file.
Button {
    id: button
    objectName: "reportButton"
    property string sensor
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null
    readonly property bool available: guide !== null && guide.reports[sensor] !== undefined

    text: qsTr("Report")
    enabled: available
    onClicked: {
        reportText.text = guide.reportText(sensor)
        reportPopup.open()
    }

    Popup {
        id: reportPopup
        objectName: "reportPopup"
        parent: Overlay.overlay
        x: parent ? (parent.width - width) / 2 : 0
        y: parent ? (parent.height - height) / 2 : 0
        width: parent ? parent.width * 0.8 : 400
        modal: true
        padding: 16

        Column {
            width: parent.width
            spacing: 12

            Label {
                id: reportText
                objectName: "reportText"
                width: parent.width
                wrapMode: Text.WrapAnywhere
                font.family: "monospace"
                font.pixelSize: 13
            }

            Button {
                text: qsTr("Close")
                onClicked: reportPopup.close()
            }
        }
    }
}
