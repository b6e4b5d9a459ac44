// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQml 2.14
import QtQuick.Controls 2.12
import QtQuick.Window 2.12

// The connection at a glance, along the bottom of the live page: port, which
// module and its ranges, how much arrives, what was dropped since connect and
// the module's last status message; below them why data stopped or cannot be
// decoded, and what the connection did by itself (lost, reconnected, another
// module found). Everything comes from backEnd.connection, whose figures
// change at most twice a second and only when a shown value changed.
Rectangle {
    id: strip
    objectName: "statusStrip"

    readonly property var connection: backEnd.connection
    readonly property bool open: connection.linkOpen
    // The figures that move with the stream stand still while the window is
    // minimised, and catch up when it shows again: a window system that keeps
    // a minimised window mapped would otherwise draw it twice a second.
    readonly property bool windowShown: Window.visibility !== Window.Minimized
                                        && Window.visibility !== Window.Hidden

    implicitHeight: column.implicitHeight + 8
    color: "#262626"

    // What was dismissed (or expired); the row comes back only with another text.
    property string dismissedWarning: ""
    property string dismissedNotice: ""
    readonly property string shownWarning: {
        var text = connection.warning
        // Said once: not again under the notice that already says it; and
        // data is not missed from a link that is closed.
        if (!open || text === "" || text === dismissedWarning || text === shownNotice)
            return ""
        return text
    }
    readonly property bool waitingOnNotice: connection.waitingForPort || connection.checkingModule
    readonly property string shownNotice: connection.notice !== ""
                                          && (connection.notice !== dismissedNotice || waitingOnNotice)
                                          ? connection.notice : ""
    // A notice that only reports (green) goes by itself after this long; a
    // warning stays until dismissed or replaced, and so does one with a wait
    // that can be stopped.
    property int noticeLifetimeMs: 15000

    Timer {
        id: noticeExpiry
        objectName: "noticeExpiry"
        interval: strip.noticeLifetimeMs
        running: strip.shownNotice !== "" && !strip.connection.noticeIsWarning && !strip.waitingOnNotice
        onTriggered: strip.dismissedNotice = strip.connection.notice
    }

    Column {
        id: column
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        spacing: 4

        Flow {
            id: figures
            width: parent.width
            spacing: 16

            Label {
                objectName: "stripPort"
                font.pixelSize: 13
                font.bold: true
                color: strip.open ? "#a5d6a7" : "#bdbdbd"
                text: strip.open ? strip.connection.port : qsTr("Not connected")
            }

            Label {
                objectName: "stripIdentity"
                font.pixelSize: 13
                color: "#e0e0e0"
                visible: strip.open && text !== ""
                text: strip.connection.identityText
            }

            Label {
                objectName: "stripRanges"
                font.pixelSize: 13
                color: "#e0e0e0"
                visible: strip.open
                text: strip.connection.rangesText !== "" ? strip.connection.rangesText
                                                         : qsTr("ranges not read yet")
            }

            Label {
                id: ratesLabel
                objectName: "stripRates"
                font.pixelSize: 13
                color: "#e0e0e0"
                visible: strip.open
            }

            Binding {
                target: ratesLabel
                property: "text"
                when: strip.windowShown
                restoreMode: Binding.RestoreNone
                value: qsTr("%1 frames/s · %2 B/s").arg(strip.connection.framesPerSecond)
                                                    .arg(strip.connection.bytesPerSecond)
            }

            Label {
                objectName: "stripDropped"
                font.pixelSize: 13
                visible: strip.open
                color: strip.connection.cutFrames > 0 || strip.connection.noiseBytes > 0
                       ? "#ffcc80" : "#e0e0e0"
                text: qsTr("dropped since connect: %1 cut frames, %2 noise bytes")
                      .arg(strip.connection.cutFrames).arg(strip.connection.noiseBytes)
            }

            Label {
                objectName: "stripStatus"
                font.pixelSize: 13
                color: "#e0e0e0"
                visible: strip.open
                text: qsTr("module status: %1").arg(strip.connection.statusMessage)
            }

            CheckBox {
                objectName: "stripAutoReconnect"
                font.pixelSize: 13
                topPadding: 0
                bottomPadding: 0
                height: 22
                text: qsTr("Reconnect by itself")
                checked: strip.connection.autoReconnect
                onToggled: strip.connection.autoReconnect = checked
            }
        }

        Rectangle {
            objectName: "stripWarning"
            width: parent.width
            height: Math.max(warningLabel.implicitHeight, dismissWarning.height) + 8
            visible: strip.shownWarning !== ""
            color: "#ef6c00"

            Label {
                id: warningLabel
                objectName: "stripWarningLabel"
                anchors.left: parent.left
                anchors.right: dismissWarning.left
                anchors.verticalCenter: parent.verticalCenter
                anchors.margins: 4
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WordWrap
                font.pixelSize: 13
                color: "white"
                text: strip.shownWarning
            }

            ToolButton {
                id: dismissWarning
                objectName: "stripWarningDismiss"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                height: 28
                width: 28
                padding: 0
                topInset: 0
                bottomInset: 0
                font.pixelSize: 14
                text: "\u2715"
                onClicked: strip.dismissedWarning = strip.connection.warning
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: qsTr("Dismiss")
            }
        }

        Rectangle {
            objectName: "stripNotice"
            width: parent.width
            height: Math.max(noticeLabel.implicitHeight, stopWaiting.visible ? stopWaiting.height : 0) + 8
            visible: strip.shownNotice !== ""
            color: strip.connection.noticeIsWarning ? "#c62828" : "#2e7d32"

            Label {
                id: noticeLabel
                objectName: "stripNoticeLabel"
                anchors.left: parent.left
                anchors.right: stopWaiting.visible ? stopWaiting.left : dismissNotice.left
                anchors.verticalCenter: parent.verticalCenter
                anchors.margins: 4
                wrapMode: Text.WordWrap
                font.pixelSize: 13
                color: "white"
                text: strip.shownNotice
            }

            ToolButton {
                id: dismissNotice
                objectName: "stripNoticeDismiss"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                height: 28
                width: 28
                padding: 0
                topInset: 0
                bottomInset: 0
                font.pixelSize: 14
                // A wait is ended with its own button, not hidden.
                visible: !stopWaiting.visible
                text: "\u2715"
                onClicked: strip.dismissedNotice = strip.connection.notice
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: qsTr("Dismiss")
            }

            Button {
                id: stopWaiting
                objectName: "stripStopWaiting"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                height: 32
                topInset: 0
                bottomInset: 0
                font.pixelSize: 12
                visible: strip.connection.waitingForPort || strip.connection.checkingModule
                text: qsTr("Stop waiting")
                onClicked: strip.connection.cancelReconnect()
            }
        }
    }
}
