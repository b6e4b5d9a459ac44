// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtTest 1.12

// Export, Import and the backups on the register page, with the backend's
// part played by the fake: which calls the dialogs make, what the import
// table shows before and after a write, and Restore behind its question.
Item {
    id: testRoot
    width: 1024
    height: 720

    Component {
        id: pageComponent
        Loader { source: "qrc:/Page2.qml"; width: 1024; height: 720 }
    }

    TestCase {
        name: "ModuleFiles"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        function makePage() {
            var loader = createTemporaryObject(pageComponent, testRoot)
            verify(loader.item, "Page2 loads")
            loader.item.grid.model = backEnd.registers
            return loader.item
        }

        function child(parent, name) {
            var item = findChild(parent, name)
            verify(item, name + " exists")
            return item
        }

        function row(name, group, fileText, moduleText, differs) {
            return { row: 0, name: name, group: group, fileText: fileText, moduleText: moduleText,
                     differs: differs, written: false, afterText: "", mismatch: false }
        }

        function importRows() {
            return [row("Control1", "Control1", "0x85", "0x85", false),
                    row("Control2", "Control2", "0x21", "0x00", true),
                    row("Gyroscope Offset X", "gyroscope", "0", "0", false),
                    row("Gyroscope Offset Y", "gyroscope", "0", "0", false),
                    row("Gyroscope Offset Z", "gyroscope", "0.25", "0", true),
                    row("MAG  Offset X", "magnetometer", "0.75", "0", true)]
        }

        function openImport(page) {
            mouseClick(child(page, "importButton"))
            var dialog = child(page, "moduleImportDialog")
            tryCompare(dialog, "opened", true)
            return dialog
        }

        function test_exportAsksTheBackendAndSaysWhereTheFileWent() {
            var page = makePage()
            var files = backEnd.moduleFiles
            mouseClick(child(page, "moduleExportButton"))
            compare(files.calls(), ["exportModule"])
            files.setStatus("Saved the module's settings as /home/user/Documents/Velmar IMU/x.json",
                            false, false)
            compare(child(page, "moduleFilesStatus").text,
                    "Saved the module's settings as /home/user/Documents/Velmar IMU/x.json")
            // While the module is being read, a second Export waits.
            files.setStatus("", false, true)
            compare(child(page, "moduleExportButton").enabled, false)
        }

        function test_importTableChoosesBlocksAsWholesAndWritesTheChoice() {
            var page = makePage()
            var files = backEnd.moduleFiles
            files.setFiles(["velmar-0x5a-hw1442-2026-12-08-083100.json"])
            var dialog = openImport(page)
            // The folder's files are listed; a click opens one.
            var list = child(dialog.contentItem, "folderFileList")
            tryCompare(list, "count", 1)
            tryVerify(function () { return list.height > 0 && list.itemAtIndex(0) !== null })
            waitForRendering(list)
            var entry = list.itemAtIndex(0)
            mouseClick(entry)
            compare(files.calls().indexOf("openImport") >= 0, true)
            compare(files.lastArguments(), ["velmar-0x5a-hw1442-2026-12-08-083100.json"])

            files.setRows("/home/user/Documents/Velmar IMU/velmar-0x5a-hw1442-2026-12-08-083100.json",
                          importRows())
            files.setStatus("Choose the registers to write.", false, false)
            var table = child(dialog.contentItem, "importTable")
            tryCompare(table, "count", 6)
            // What differs is chosen to start with.
            compare(dialog.chosenNames.sort(), ["Control2", "gyroscope", "magnetometer"])
            // Unticking one gyroscope register unticks its whole block.
            var gx = child(table, "importCheck_Gyroscope Offset X")
            compare(gx.checked, true)
            mouseClick(gx)
            compare(child(table, "importCheck_Gyroscope Offset Z").checked, false)
            compare(dialog.chosenNames.sort(), ["Control2", "magnetometer"])
            mouseClick(child(table, "importCheck_Control1"))

            var write = child(dialog.footer, "importWriteButton")
            compare(write.enabled, true)
            mouseClick(write)
            compare(files.calls()[files.calls().length - 1], "writeChosen")
            compare(files.lastArguments()[0].sort(), ["Control1", "Control2", "magnetometer"])
            compare(dialog.opened, true, "the table stays to show the read-back")

            // The read-back: the module did not take Control2.
            var after = importRows()
            after[1].written = true; after[1].afterText = "0x00"; after[1].mismatch = true
            after[5].written = true; after[5].afterText = "0.75"
            files.setRows(files.importPath, after)
            files.setStatus("Written, but the module holds 1 register(s) differently.", true, false)
            var bad = child(table, "importAfter_Control2")
            tryVerify(function () { return bad.text.indexOf("differs from the file") >= 0 })
            verify(bad.text.indexOf("0x00") === 0, bad.text)
            verify(Qt.colorEqual(bad.color, "#c62828"))
            compare(child(table, "importAfter_MAG  Offset X").text, "0.75  written")
            compare(child(dialog.contentItem, "importStatus").text,
                    "Written, but the module holds 1 register(s) differently.")

            mouseClick(child(dialog.footer, "importCloseButton"))
            tryCompare(dialog, "visible", false)
            compare(files.calls()[files.calls().length - 1], "closeImport")
        }

        // The table lists what differs first; the write button counts the
        // registers a write of the choice writes (a block's every register),
        // as the backend counts them after the write.
        function test_importListsChangesFirstAndCountsTheRegistersItWrites() {
            var page = makePage()
            var files = backEnd.moduleFiles
            var dialog = openImport(page)
            files.setRows("/home/user/Documents/Velmar IMU/v.json", importRows())
            files.setStatus("Choose the registers to write.", false, false)
            var table = child(dialog.contentItem, "importTable")
            tryCompare(table, "count", 6)
            var order = []
            for (var i = 0; i < table.count; ++i)
                order.push(dialog.shownRows[i].name)
            compare(order, ["Control2", "Gyroscope Offset Z", "MAG  Offset X", "Control1",
                            "Gyroscope Offset X", "Gyroscope Offset Y"])
            tryVerify(function () { return table.itemAtIndex(0) !== null })
            compare(table.itemAtIndex(0).objectName, "importRow_Control2")

            // Control2, the three gyroscope offsets and the magnetometer one.
            var write = child(dialog.footer, "importWriteButton")
            compare(write.text, "Write chosen (5)")
            mouseClick(child(table, "importCheck_Gyroscope Offset Z"))
            compare(write.text, "Write chosen (2)")
            mouseClick(child(table, "importCheck_MAG  Offset X"))
            mouseClick(child(table, "importCheck_Control2"))
            compare(write.text, "Write chosen (0)")
            compare(write.enabled, false)
            // One gyroscope register ticks its block: four registers with Control1.
            mouseClick(child(table, "importCheck_Gyroscope Offset Y"))
            mouseClick(child(table, "importCheck_Control1"))
            compare(write.text, "Write chosen (4)")
            compare(write.enabled, true)
            mouseClick(write)
            compare(files.lastArguments()[0].sort(), ["Control1", "gyroscope"])
        }

        // After the write "Module now" is what the module read back.
        function test_moduleNowShowsTheReadBack() {
            var page = makePage()
            var files = backEnd.moduleFiles
            var dialog = openImport(page)
            files.setRows("/v.json", importRows())
            var table = child(dialog.contentItem, "importTable")
            tryCompare(table, "count", 6)
            var now = child(table, "importNow_Control2")
            compare(now.text, "0x00")
            compare(now.font.bold, true, "differs from the file")
            var after = importRows()
            after[1].written = true; after[1].afterText = "0x21"
            after[4].written = true; after[4].afterText = "0"; after[4].mismatch = true
            files.setRows("/v.json", after)
            files.setStatus("Written, but the module holds 1 register(s) differently.", true, false)
            // The rows are new objects now.
            tryVerify(function () {
                var cell = findChild(table, "importNow_Control2")
                return cell && cell.text === "0x21"
            })
            now = child(table, "importNow_Control2")
            compare(now.font.bold, false, "holds what the file says")
            var gz = child(table, "importNow_Gyroscope Offset Z")
            compare(gz.text, "0")
            compare(gz.font.bold, true)
            compare(child(table, "importNow_Control1").text, "0x85")
        }

        // Import opens the desktop's file dialog at once, and again on Browse.
        function test_importGoesThroughTheDesktopDialog() {
            var page = makePage()
            var files = backEnd.moduleFiles
            var dialog = openImport(page)
            tryVerify(function () { return files.calls().indexOf("chooseImport") >= 0 })
            var browse = child(dialog.contentItem, "importBrowseButton")
            mouseClick(browse)
            compare(files.calls().filter(function (c) { return c === "chooseImport" }).length, 2)
            files.setStatus("", false, true)
            compare(browse.enabled, false, "not while the module is being read")
        }

        // The page's line says what Export or Import did, and goes with it.
        function test_statusLineFollowsTheBackend() {
            var page = makePage()
            var files = backEnd.moduleFiles
            var line = child(page, "moduleFilesStatus")
            files.setStatus("Export needs a connected module.", true, false)
            compare(line.visible, true)
            verify(Qt.colorEqual(line.color, "#c62828"))
            files.setStatus("", false, false)
            compare(line.visible, false)
        }

        function test_aRefusedFileShowsTheReasonAndOffersNoWrite() {
            var page = makePage()
            var files = backEnd.moduleFiles
            var dialog = openImport(page)
            var path = child(dialog.contentItem, "importPathField")
            path.text = "/tmp/other.json"
            mouseClick(child(dialog.contentItem, "importOpenButton"))
            compare(files.lastArguments(), ["/tmp/other.json"])
            var reason = "other.json refused: the file is for hardware version 2542; this module is 1442."
            files.setStatus(reason, true, false)
            var status = child(dialog.contentItem, "importStatus")
            compare(status.visible, true)
            compare(status.text, reason)
            verify(Qt.colorEqual(status.color, "#c62828"))
            compare(child(dialog.contentItem, "importTable").count, 0)
            compare(child(dialog.footer, "importWriteButton").enabled, false)
            compare(files.calls().indexOf("writeChosen"), -1)
        }

        function test_restoreAsksFirstAndCancelRestoresNothing() {
            var page = makePage()
            var backups = backEnd.moduleBackups
            backups.setBackups([
                { path: "/b/2.json", savedAt: "2026-12-08 08:40:00",
                  module: "device 0x5A, hardware 1442, software 210", trigger: "before Reset Defaults" },
                { path: "/b/1.json", savedAt: "2026-12-08 08:10:00",
                  module: "device 0x5A, hardware 1442, software 210",
                  trigger: "before gyroscope calibration" }])
            mouseClick(child(page, "backupsButton"))
            var dialog = child(page, "backupsDialog")
            tryCompare(dialog, "opened", true)
            var list = child(dialog.contentItem, "backupsList")
            tryCompare(list, "count", 2)
            compare(child(dialog.contentItem, "noBackupsLabel").visible, false)

            mouseClick(child(list, "restoreButton_1"))
            var confirm = dialog.restoreConfirmation
            compare(confirm.objectName, "restoreConfirmDialog")
            tryCompare(confirm, "opened", true)
            var text = confirm.contentItem.text
            verify(text.indexOf("2026-12-08 08:10:00") >= 0, text)
            verify(text.indexOf("before gyroscope calibration") >= 0, text)
            compare(backups.restored(), [], "nothing before the answer")
            mouseClick(child(confirm.footer, "restoreCancelButton"))
            tryCompare(confirm, "visible", false)
            compare(backups.restored(), [])

            mouseClick(child(list, "restoreButton_1"))
            tryCompare(confirm, "opened", true)
            mouseClick(child(confirm.footer, "restoreConfirmButton"))
            tryCompare(confirm, "visible", false)
            compare(backups.restored(), ["/b/1.json"])
        }

        function openRestore(page, differences, error) {
            var backups = backEnd.moduleBackups
            backups.setBackups([{ path: "/b/1.json", savedAt: "2026-12-08 08:10:00",
                                  module: "device 0x5A, hardware 1442, software 210",
                                  trigger: "before gyroscope calibration" }])
            backups.setDifferences(differences)
            backups.setLastError(error)
            mouseClick(child(page, "backupsButton"))
            var dialog = child(page, "backupsDialog")
            tryCompare(dialog, "opened", true)
            var list = child(dialog.contentItem, "backupsList")
            tryCompare(list, "count", 1)
            mouseClick(child(list, "restoreButton_0"))
            var confirm = dialog.restoreConfirmation
            tryCompare(confirm, "opened", true)
            return { dialog: dialog, confirm: confirm }
        }

        // The question lists what the restore would change, before anything is written.
        function test_restoreListsTheChangesFirst() {
            var page = makePage()
            var backups = backEnd.moduleBackups
            var shown = openRestore(page, [
                { name: "Control2", fileText: "0x00", moduleText: "0x21" },
                { name: "MAG  Offset X", fileText: "0", moduleText: "0.5" }], "")
            var count = child(shown.confirm.contentItem, "restoreChangeCount")
            compare(count.text, "2 register(s) would change (module now, then the backup's value):")
            var changes = child(shown.confirm.contentItem, "restoreChanges")
            compare(changes.count, 2)
            compare(backups.restored(), [])
            mouseClick(child(shown.confirm.footer, "restoreConfirmButton"))
            tryCompare(shown.confirm, "visible", false)
            compare(backups.restored(), ["/b/1.json"])

            // While the module is read after the writes, and once it answered.
            backups.setRestoreState(true, "")
            var status = child(shown.dialog.contentItem, "restoreStatus")
            compare(status.text, "Restoring: waiting for the module's answer...")
            compare(child(shown.dialog.contentItem, "restoreButton_0").enabled, false)
            backups.setRestoreState(false, "Restored: 2 register(s) written, and the module holds them as in the backup.")
            compare(status.text, "Restored: 2 register(s) written, and the module holds them as in the backup.")
            compare(status.visible, true)
        }

        function test_restoreThatWouldBeRefusedSaysWhyAndCannotBePressed() {
            var page = makePage()
            var shown = openRestore(page, [], "Restore refused: not connected to a module whose settings were read.")
            var count = child(shown.confirm.contentItem, "restoreChangeCount")
            compare(count.text, "Restore refused: not connected to a module whose settings were read.")
            compare(child(shown.confirm.footer, "restoreConfirmButton").enabled, false)
            mouseClick(child(shown.confirm.footer, "restoreCancelButton"))
            tryCompare(shown.confirm, "visible", false)
            compare(backEnd.moduleBackups.restored(), [])
        }

        // The button that overwrites stands on the other side from Cancel.
        function test_restoreButtonStandsApartFromCancel() {
            var page = makePage()
            var shown = openRestore(page, [], "")
            compare(child(shown.confirm.contentItem, "restoreChangeCount").text,
                    "The module holds what the backup holds: nothing would be written.")
            var restore = child(shown.confirm.footer, "restoreConfirmButton")
            var cancel = child(shown.confirm.footer, "restoreCancelButton")
            var footer = shown.confirm.footer
            var r = restore.mapToItem(footer, 0, 0)
            var c = cancel.mapToItem(footer, 0, 0)
            verify(r.x < footer.width / 2, "Restore on the left: " + r.x)
            verify(c.x + cancel.width > footer.width / 2, "Cancel on the right: " + c.x)
            verify(c.x - (r.x + restore.width) > 100, "apart by more than a gap")
        }

        function test_noBackupsSaysSo() {
            var page = makePage()
            mouseClick(child(page, "backupsButton"))
            var dialog = child(page, "backupsDialog")
            tryCompare(dialog, "opened", true)
            compare(child(dialog.contentItem, "noBackupsLabel").visible, true)
        }
    }
}
