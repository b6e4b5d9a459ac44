// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// A line across the top of the main chart: red for a failure, orange for a
// hint; hidden while there is nothing to say.
Rectangle {
    id: root

    property alias text: statusLabel.text
    property bool failure: false

    height: statusLabel.implicitHeight + 16
    visible: statusLabel.text !== ""
    color: failure ? "#c62828" : "#ef6c00"

    Label {
        id: statusLabel
        objectName: "statusLabel"
        anchors.fill: parent
        anchors.margins: 8
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        color: "white"
    }
}
