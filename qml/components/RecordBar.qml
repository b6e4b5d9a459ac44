// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import QtQuick.Layouts 1.12

// Record and Stop for the live page (Ctrl+R does the same), what the running
// recording has written so far, and why a recording could not start or
// stopped by itself.
RowLayout {
    id: bar
    objectName: "recordBar"
    spacing: 0

    property QtObject recording: backEnd.recording
    readonly property bool active: recording !== null && recording.recording

    // 65 s reads "1:05", an hour and more "1:02:03".
    function elapsedText(ms) {
        var s = Math.floor(ms / 1000)
        var h = Math.floor(s / 3600)
        var m = Math.floor(s / 60) % 60
        var ss = ("0" + (s % 60)).slice(-2)
        return h > 0 ? h + ":" + ("0" + m).slice(-2) + ":" + ss : m + ":" + ss
    }

    function sizeText(bytes) {
        if (bytes < 1000 * 1000)
            return qsTr("%1 kB").arg(Math.round(bytes / 1000))
        return qsTr("%1 MB").arg((bytes / 1000 / 1000).toFixed(1))
    }

    function statusText() {
        if (!active)
            return ""
        var text = elapsedText(recording.elapsedMs) + "  "
                + qsTr("%1 frames").arg(recording.framesWritten) + "  "
                + sizeText(recording.bytesWritten)
        if (recording.waitingForData)
            text += "  " + qsTr("(waiting for data)")
        return text
    }

    Button {
        id: recordButton
        objectName: "recordButton"
        Layout.fillHeight: true
        // As wide as the wider caption, so Stop stays where Record was.
        readonly property real steadyWidth: Math.max(recordCaption.advanceWidth, stopCaption.advanceWidth)
                                            + leftPadding + rightPadding
        Layout.preferredWidth: steadyWidth
        Layout.minimumWidth: steadyWidth
        enabled: bar.recording !== null && bar.recording.state !== "stopping"
        text: bar.active ? qsTr("Stop") : qsTr("Record")
        Material.foreground: bar.active ? "white" : "#ef5350"
        onClicked: bar.recording.toggle()
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: bar.recording
                      ? qsTr("Recordings go to %1 (Ctrl+R)").arg(bar.recording.location) : ""

        TextMetrics {
            id: recordCaption
            font: recordButton.font
            text: qsTr("Record")
        }
        TextMetrics {
            id: stopCaption
            font: recordButton.font
            text: qsTr("Stop")
        }
    }

    // Where recordings go: chosen once, remembered.
    ToolButton {
        objectName: "recordLocationButton"
        Layout.fillHeight: true
        visible: !bar.active
        enabled: bar.recording !== null
        text: "\u2026"
        onClicked: bar.recording.chooseLocation()
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: bar.recording
                      ? qsTr("Choose where recordings go (now %1)").arg(bar.recording.location)
                      : ""
    }

    // Takes the room the bar is given, whatever the status line says, so
    // the bar's buttons and what follows never move when it comes or goes;
    // a line longer than the room is cut at its end.
    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true

        Label {
            id: statusLabel
            objectName: "recordStatus"
            anchors.fill: parent
            anchors.leftMargin: 6
            anchors.rightMargin: 6
            elide: Text.ElideRight
            visible: bar.active
            verticalAlignment: Text.AlignVCenter
            color: "#ef5350"
            text: bar.statusText()
        }
    }

    Popup {
        id: errorPopup
        objectName: "recordError"
        y: bar.height
        x: bar.width - width
        width: 420
        modal: false
        closePolicy: Popup.NoAutoClose
        visible: bar.recording !== null && bar.recording.errorMessage !== ""
        background: Rectangle { color: "#c62828" }

        RowLayout {
            anchors.fill: parent

            Label {
                objectName: "recordErrorLabel"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: "white"
                text: bar.recording ? bar.recording.errorMessage : ""
            }

            Button {
                objectName: "recordErrorDismiss"
                text: qsTr("OK")
                onClicked: bar.recording.clearError()
            }
        }
    }
}
