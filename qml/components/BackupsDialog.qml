// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

// The backups the application took before a calibration or Reset Defaults
// overwrote the module, newest first. Restore asks first: it overwrites what
// the module holds now.
Dialog {
    id: dialog
    objectName: "backupsDialog"

    readonly property var backups: backEnd.moduleBackups
    // The question before a restore.
    property alias restoreConfirmation: confirm

    title: qsTr("Backups")
    modal: true
    focus: true
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    width: parent ? Math.min(900, parent.width - 20) : 900
    height: parent ? Math.min(520, parent.height - 20) : 520

    onOpened: backups.refresh()

    contentItem: ColumnLayout {
        spacing: 6
        Label {
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            text: qsTr("Taken automatically before each calibration writes to the module and "
                       + "before Reset Defaults, in %1.").arg(dialog.backups.folder)
        }
        Label {
            objectName: "backupsError"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            visible: text.length > 0
            text: dialog.backups.lastError
            color: "#c62828"
        }
        Label {
            objectName: "noBackupsLabel"
            visible: list.count === 0
            text: qsTr("No backups yet.")
        }
        RowLayout {
            Layout.fillWidth: true
            visible: list.count > 0
            Label { text: qsTr("Date"); Layout.preferredWidth: 160; font.bold: true }
            Label { text: qsTr("Module"); Layout.preferredWidth: 300; font.bold: true }
            Label { text: qsTr("Taken"); Layout.fillWidth: true; font.bold: true }
        }
        ListView {
            id: list
            objectName: "backupsList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: dialog.backups.backups
            ScrollBar.vertical: ScrollBar {}
            delegate: RowLayout {
                width: list.width
                height: 40
                Label { text: modelData.savedAt; Layout.preferredWidth: 160 }
                Label { text: modelData.module; Layout.preferredWidth: 300; elide: Text.ElideRight }
                Label { text: modelData.trigger; Layout.fillWidth: true; elide: Text.ElideRight }
                Button {
                    objectName: "restoreButton_" + index
                    text: qsTr("Restore")
                    onClicked: {
                        confirm.entry = modelData
                        confirm.open()
                    }
                }
            }
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "backupsCloseButton"
            text: qsTr("Close")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }

    Dialog {
        id: confirm
        objectName: "restoreConfirmDialog"
        property var entry: ({})
        parent: Overlay.overlay
        title: qsTr("Restore a backup")
        modal: true
        x: parent ? (parent.width - width) / 2 : 0
        y: parent ? (parent.height - height) / 2 : 0
        width: 460
        contentItem: Label {
            objectName: "restoreConfirmText"
            wrapMode: Text.WordWrap
            text: qsTr("Write the backup of %1 (%2) to the module?\n\nEvery register it holds "
                       + "differently from the backup is overwritten, the calibrations among "
                       + "them.").arg(confirm.entry.savedAt || "").arg(confirm.entry.trigger || "")
        }
        footer: DialogButtonBox {
            Button {
                objectName: "restoreConfirmButton"
                text: qsTr("Restore")
                DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            }
            Button {
                objectName: "restoreCancelButton"
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
        onAccepted: dialog.backups.restore(entry.path)
    }
}
