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
            height: warningLabel.implicitHeight + 8
            visible: strip.connection.warning !== ""
            color: "#ef6c00"

            Label {
                id: warningLabel
                objectName: "stripWarningLabel"
                anchors.fill: parent
                anchors.margins: 4
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WordWrap
                font.pixelSize: 13
                color: "white"
                text: strip.connection.warning
            }
        }

        Rectangle {
            objectName: "stripNotice"
            width: parent.width
            height: Math.max(noticeLabel.implicitHeight, stopWaiting.visible ? stopWaiting.height : 0) + 8
            visible: strip.connection.notice !== ""
            color: strip.connection.noticeIsWarning ? "#c62828" : "#2e7d32"

            Label {
                id: noticeLabel
                objectName: "stripNoticeLabel"
                anchors.left: parent.left
                anchors.right: stopWaiting.visible ? stopWaiting.left : parent.right
                anchors.verticalCenter: parent.verticalCenter
                anchors.margins: 4
                wrapMode: Text.WordWrap
                font.pixelSize: 13
                color: "white"
                text: strip.connection.notice
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
