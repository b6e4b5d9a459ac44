// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import QtQuick.Layouts 1.12

// Import on the register page: a module file against what the module holds
// now, register by register, the ones that differ first. The user ticks what
// to write (a calibration block goes as a whole, and counts as the registers
// it writes), and after the write "Module now" is what the module read back,
// in red where it holds something else than the file.
Dialog {
    id: dialog
    objectName: "moduleImportDialog"

    readonly property var files: backEnd.moduleFiles
    // Chosen groups: a calibration block's name, or a register's own name.
    property var chosen: ({})
    readonly property var chosenNames: Object.keys(chosen).filter(function (k) { return chosen[k] })
    // The registers a write of the choice writes: a block's every register
    // the file holds, as the backend writes them and counts them after.
    readonly property int chosenCount: {
        var rows = files.importRows
        var n = 0
        for (var i = 0; i < rows.length; ++i) {
            if (chosen[rows[i].group] === true)
                ++n
        }
        return n
    }
    // The table's order: what differs first, each part in the file's order.
    readonly property var shownRows: {
        var rows = files.importRows
        var differing = [], same = []
        for (var i = 0; i < rows.length; ++i)
            (rows[i].differs ? differing : same).push(rows[i])
        return differing.concat(same)
    }
    property var folderFiles: []

    function setChosen(group, on) {
        var next = Object.assign({}, chosen)
        next[group] = on
        chosen = next
    }
    function chooseDiffering() {
        var next = {}
        var rows = files.importRows
        for (var i = 0; i < rows.length; ++i) {
            if (rows[i].differs)
                next[rows[i].group] = true
        }
        chosen = next
    }
    function openFile(path) {
        chosen = {}
        files.openImport(path)
    }
    // The desktop's own file dialog, where the application has one.
    function browse() {
        chosen = {}
        files.chooseImport()
    }

    title: qsTr("Import a module file")
    modal: true
    focus: true
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    width: parent ? Math.min(900, parent.width - 20) : 900
    height: parent ? Math.min(680, parent.height - 20) : 680

    onOpened: folderFiles = files.filesInFolder()
    onClosed: {
        chosen = {}
        files.closeImport()
    }

    // Rows appear once the module answered; start with the ones that differ.
    Connections {
        target: dialog.files
        function onStateChanged() {
            if (!dialog.files.busy && dialog.files.importRows.length > 0
                    && dialog.chosenNames.length === 0 && !dialog.files.importRows[0].written
                    && dialog.files.importRows[0].afterText === "")
                dialog.chooseDiffering()
        }
    }

    contentItem: ColumnLayout {
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("Folder") }
            TextField {
                objectName: "moduleFilesFolderField"
                Layout.fillWidth: true
                text: dialog.files.folder
                selectByMouse: true
                onEditingFinished: {
                    dialog.files.folder = text
                    dialog.folderFiles = dialog.files.filesInFolder()
                }
            }
        }
        ListView {
            objectName: "folderFileList"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 96)
            visible: dialog.folderFiles.length > 0
            clip: true
            model: dialog.folderFiles
            delegate: ItemDelegate {
                width: ListView.view.width
                height: 24
                text: modelData
                onClicked: {
                    pathField.text = modelData
                    dialog.openFile(modelData)
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Label { text: qsTr("File") }
            TextField {
                id: pathField
                objectName: "importPathField"
                Layout.fillWidth: true
                selectByMouse: true
                placeholderText: qsTr("A file in the folder, or a whole path")
                onAccepted: dialog.openFile(text)
            }
            Button {
                objectName: "importOpenButton"
                text: qsTr("Open")
                enabled: pathField.text.length > 0 && !dialog.files.busy
                onClicked: dialog.openFile(pathField.text)
            }
            Button {
                objectName: "importBrowseButton"
                text: qsTr("Browse...")
                enabled: !dialog.files.busy
                onClicked: dialog.browse()
            }
        }
        Label {
            objectName: "importStatus"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            text: dialog.files.status
            color: dialog.files.failed ? "#c62828" : Material.foreground
            visible: text.length > 0
        }
        Label {
            Layout.fillWidth: true
            visible: dialog.files.importPath.length > 0
            text: qsTr("%1, for %2").arg(dialog.files.importPath).arg(dialog.files.importModule)
            elide: Text.ElideMiddle
            font.italic: true
        }

        // The table.
        RowLayout {
            Layout.fillWidth: true
            visible: table.count > 0
            Label { text: qsTr("Write"); Layout.preferredWidth: 56; font.bold: true }
            Label { text: qsTr("Register"); Layout.preferredWidth: 290; font.bold: true }
            Label { text: qsTr("In the file"); Layout.preferredWidth: 130; font.bold: true }
            Label { text: qsTr("Module now"); Layout.preferredWidth: 130; font.bold: true }
            Label { text: qsTr("After writing"); Layout.fillWidth: true; font.bold: true }
        }
        ListView {
            id: table
            objectName: "importTable"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: dialog.shownRows
            ScrollBar.vertical: ScrollBar {}
            delegate: RowLayout {
                objectName: "importRow_" + modelData.name
                width: table.width
                height: 30
                readonly property bool isChosen: dialog.chosen[modelData.group] === true
                CheckBox {
                    objectName: "importCheck_" + modelData.name
                    Layout.preferredWidth: 56
                    checked: parent.isChosen
                    onToggled: dialog.setChosen(modelData.group, checked)
                }
                Label {
                    Layout.preferredWidth: 290
                    elide: Text.ElideRight
                    text: modelData.group !== modelData.name
                          ? modelData.name + "  (" + modelData.group + ")" : modelData.name
                }
                Label {
                    Layout.preferredWidth: 130
                    text: modelData.fileText
                    font.bold: modelData.differs
                }
                // After a write, what the module read back.
                Label {
                    objectName: "importNow_" + modelData.name
                    Layout.preferredWidth: 130
                    text: modelData.afterText !== "" ? modelData.afterText : modelData.moduleText
                    font.bold: modelData.afterText !== "" ? modelData.mismatch : modelData.differs
                }
                Label {
                    objectName: "importAfter_" + modelData.name
                    Layout.fillWidth: true
                    text: modelData.afterText === "" ? "" : modelData.mismatch
                          ? qsTr("%1  differs from the file").arg(modelData.afterText)
                          : modelData.written ? qsTr("%1  written").arg(modelData.afterText)
                                              : modelData.afterText
                    color: modelData.mismatch ? "#c62828" : Material.foreground
                    font.bold: modelData.mismatch
                }
            }
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "importWriteButton"
            text: qsTr("Write chosen (%1)").arg(dialog.chosenCount)
            DialogButtonBox.buttonRole: DialogButtonBox.ApplyRole
            enabled: dialog.chosenCount > 0 && !dialog.files.busy
                     && dialog.files.importRows.length > 0
            onClicked: dialog.files.writeChosen(dialog.chosenNames)
        }
        Button {
            objectName: "importCloseButton"
            text: qsTr("Close")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }
}
