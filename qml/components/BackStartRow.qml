// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

// The Back and Start buttons along the bottom of a calibration page.
RowLayout {
    id: row
    anchors.bottom: parent.bottom
    anchors.left: parent.left
    anchors.right: parent.right
    height: 75
    spacing: 0

    property alias backButton: buttonBack
    property alias startButton: buttonStart

    signal backClicked()
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
        id: buttonStart
        objectName: "buttonStart"
        text: "Start"
        Layout.fillWidth: true
        Layout.fillHeight: true
        onClicked: row.startClicked()
    }
}
