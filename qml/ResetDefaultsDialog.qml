// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import QtQuick.Layouts 1.12

// Asks before the factory reset: it rewrites every writable register, the
// three sensors' calibrations among them, and cannot be taken back but from
// the backup the backend saves right before.
Dialog {
    id: dialog
    objectName: "resetDefaultsDialog"

    // Emitted once the user confirmed; the caller sends the reset.
    signal confirmed

    title: qsTr("Reset Defaults")
    modal: true
    focus: true
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    // A fixed width: one that follows a page still laid out at 0 wide makes the
    // title and the wrapped text chase each other's height.
    width: 480

    contentItem: Label {
        objectName: "resetDefaultsText"
        wrapMode: Text.WordWrap
        text: qsTr("Reset the module's writable registers to their factory defaults?\n\n"
                   + "This erases the three calibrations (accelerometer, gyroscope and "
                   + "magnetometer) and sets the other writable registers (Control1, Control2, "
                   + "Sensors Range and ACC_MAG_EFF) back to their defaults. "
                   + "The module cannot undo it.\n\n"
                   + "A backup of the three calibrations and the other writable registers is "
                   + "saved first; Backups on the register page restores it.")
    }

    // The button that erases stands apart from Cancel, on the other side.
    footer: Pane {
        background: Item {}
        RowLayout {
            anchors.fill: parent
            Button {
                objectName: "resetDefaultsConfirmButton"
                text: qsTr("Reset Defaults")
                Material.foreground: "#ef5350"
                onClicked: dialog.accept()
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "resetDefaultsCancelButton"
                text: qsTr("Cancel")
                flat: true
                onClicked: dialog.reject()
            }
        }
    }

    onAccepted: confirmed()
}
