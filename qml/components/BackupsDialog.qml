// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import QtQuick.Layouts 1.12

// The backups the application took before a calibration or Reset Defaults
// overwrote the module, newest first. Restore asks first, listing what it
// would change: it overwrites what the module holds now. Once the module
// answered the read after the writes, the dialog says how it went.
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
            objectName: "restoreStatus"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            visible: text.length > 0
            text: dialog.backups.restoring ? qsTr("Restoring: waiting for the module's answer...")
                                           : dialog.backups.restoreStatus
            font.bold: true
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
                    enabled: !dialog.backups.restoring
                    onClicked: {
                        confirm.entry = modelData
                        confirm.changes = dialog.backups.differences(modelData.path)
                        confirm.refusal = dialog.backups.lastError
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
        // The registers the restore would write: name, fileText, moduleText.
        property var changes: []
        // Why it would be refused; empty when it can go ahead.
        property string refusal: ""
        parent: Overlay.overlay
        title: qsTr("Restore a backup")
        modal: true
        x: parent ? (parent.width - width) / 2 : 0
        y: parent ? (parent.height - height) / 2 : 0
        width: 560
        contentItem: ColumnLayout {
            // The question, as the page asks it.
            readonly property alias text: question.text
            spacing: 8
            Label {
                id: question
                objectName: "restoreConfirmText"
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                text: qsTr("Write the backup of %1 (%2) to the module?\n\nEvery register it holds "
                           + "differently from the backup is overwritten, the calibrations among "
                           + "them.").arg(confirm.entry.savedAt || "").arg(confirm.entry.trigger || "")
            }
            Label {
                objectName: "restoreChangeCount"
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                font.bold: true
                color: confirm.refusal !== "" ? "#c62828" : Material.foreground
                text: confirm.refusal !== "" ? confirm.refusal
                      : confirm.changes.length === 0
                        ? qsTr("The module holds what the backup holds: nothing would be written.")
                        : qsTr("%n register(s) would change (module now, then the backup's value):",
                               "", confirm.changes.length)
            }
            ListView {
                objectName: "restoreChanges"
                Layout.fillWidth: true
                Layout.preferredHeight: Math.min(contentHeight, 220)
                visible: count > 0
                clip: true
                model: confirm.changes
                ScrollBar.vertical: ScrollBar {}
                delegate: RowLayout {
                    width: ListView.view.width
                    height: 24
                    Label {
                        Layout.preferredWidth: 240
                        elide: Text.ElideRight
                        text: modelData.name
                    }
                    Label {
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: qsTr("%1  →  %2").arg(modelData.moduleText).arg(modelData.fileText)
                    }
                }
            }
        }
        // The button that overwrites stands apart from Cancel, on the other side.
        footer: Pane {
        background: Item {}
            RowLayout {
                anchors.fill: parent
                Button {
                    objectName: "restoreConfirmButton"
                    text: qsTr("Restore")
                    enabled: confirm.refusal === ""
                    Material.foreground: "#ef5350"
                    onClicked: confirm.accept()
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "restoreCancelButton"
                    text: qsTr("Cancel")
                    flat: true
                    onClicked: confirm.reject()
                }
            }
        }
        onAccepted: dialog.backups.restore(entry.path)
    }
}
