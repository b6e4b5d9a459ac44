// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

// The Back, Cancel and Start buttons along the bottom of a calibration page.
// Cancel sits beside Back and ends a run at any stage.
RowLayout {
    id: row
    anchors.bottom: parent.bottom
    anchors.left: parent.left
    anchors.right: parent.right
    height: 75
    spacing: 0

    property alias backButton: buttonBack
    property alias startButton: buttonStart
    property alias cancelButton: buttonCancel

    signal backClicked()
    signal cancelClicked()
    signal startClicked()

    Button {
        id: buttonBack
        objectName: "buttonBack"
        text: "Back"
        Layout.fillWidth: true
        Layout.fillHeight: true
        onClicked: row.backClicked()
    }

    Button {
        id: buttonCancel
        objectName: "buttonCancel"
        text: qsTr("Cancel")
        Layout.fillWidth: true
        Layout.fillHeight: true
        enabled: false
        onClicked: row.cancelClicked()
    }

    Button {
        id: buttonStart
        objectName: "buttonStart"
        text: "Start"
        Layout.fillWidth: true
        Layout.fillHeight: true
        onClicked: row.startClicked()
    }
}
