// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Says why the charts stay empty when the module sent a hardware version or a
// sensor range that its data cannot be scaled with. Hidden otherwise.
Rectangle {
    id: banner
    objectName: "dataProblemBanner"

    height: problemLabel.implicitHeight + 16
    visible: backEnd.dataProblem !== ""
    color: "#ef6c00"

    Label {
        id: problemLabel
        objectName: "dataProblemLabel"
        anchors.fill: parent
        anchors.margins: 8
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        color: "white"
        text: backEnd.dataProblem
    }
}
