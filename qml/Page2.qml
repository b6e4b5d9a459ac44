// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import "components"

// The module's register map: one cell per register, filled column by column.
Page {
    id: pageRoot

    property alias grid: grid

    header: ToolBar {
        Flow {
            anchors.fill: parent

            ToolButton {
                objectName: "readAllButton"
                text: "Read All"
                onClicked: backEnd.requestAllData()
            }

            ToolButton {
                objectName: "readChartDataButton"
                text: "Read Chart Data"
                onClicked: backEnd.requestChartData()
            }

            // Module files: Export saves what the module answers now.
            ToolButton {
                objectName: "moduleExportButton"
                text: qsTr("Export")
                enabled: !backEnd.moduleFiles.busy
                onClicked: backEnd.moduleFiles.exportModule()
            }
            ToolButton {
                objectName: "importButton"
                text: qsTr("Import...")
                onClicked: importDialog.open()
            }
            ToolButton {
                objectName: "backupsButton"
                text: qsTr("Backups...")
                onClicked: backupsDialog.open()
            }
        }
    }

    // Shows what arrives in the cells (value and flash) at most once per
    // interval. At the line limit a value arrives every few milliseconds, and
    // a frame for each, with a 500 ms fade animation per cell, kept the window
    // drawing at its full rate (about 74 frames a second, over a core on
    // software OpenGL). What arrives while nothing is showing shows at once;
    // what follows waits for the next tick, which also steps the fades.
    Timer {
        id: arrivalClock
        objectName: "arrivalClock"

        // What the fades are measured against: the time of the last tick, or
        // of the arrival that woke the clock.
        property double now: 0
        readonly property int fadeMs: 500
        // Arrivals show at once until the event loop turns: one burst, one frame.
        property bool burstOpen: false
        property double lastShown: 0
        property var pending: []

        interval: 50
        repeat: true

        function arrived(cell) {
            if (!running) {
                now = Date.now()
                burstOpen = true
                Qt.callLater(closeBurst)
                start()
            }
            if (burstOpen) {
                lastShown = now
                cell.showArrival(now)
            } else if (!cell.arrivalPending) {
                cell.arrivalPending = true
                pending.push(cell)
            }
        }

        function closeBurst() {
            burstOpen = false
        }

        onTriggered: {
            var tick = Date.now()
            var cells = pending
            pending = []
            // Flashes first, then the time: each fade moves once per tick.
            for (var i = 0; i < cells.length; ++i) {
                // A cell scrolled away or detached with the model is gone, or
                // on its way out: the view takes its functions before the
                // object. Calling one would throw and leave the cells after it
                // pending for good, never to show a value again.
                var cell = cells[i]
                if (!cell || typeof cell.showArrival !== "function")
                    continue
                cell.arrivalPending = false
                cell.showArrival(tick)
            }
            now = tick
            if (cells.length > 0)
                lastShown = now
            else if (now - lastShown >= fadeMs)
                stop()
        }
    }

    // What the last Export or Import did; under the map, not in the tool bar,
    // whose flow a long line would keep re-laying.
    footer: Label {
        objectName: "moduleFilesStatus"
        visible: text.length > 0
        padding: 6
        elide: Text.ElideMiddle
        text: importDialog.opened ? "" : backEnd.moduleFiles.status
        color: backEnd.moduleFiles.failed ? "#c62828" : palette.windowText
    }

    GridView {
        id: grid
        objectName: "registerGrid"
        property var arrivalClock: arrivalClock
        anchors.fill: parent
        anchors.margins: 20
        antialiasing: true
        clip: true
        // As many rows as fit, and the columns that takes as wide as the page
        // allows: a wide window shows the whole map at once. Never narrower
        // than the names and values need, so a small one scrolls sideways.
        readonly property int rowsShown: Math.max(1, Math.floor(height / cellHeight))
        readonly property int columnsNeeded: Math.max(1, Math.ceil(count / rowsShown))
        cellWidth: Math.max(300, Math.min(420, Math.floor(width / columnsNeeded)))
        cellHeight: 63
        flow: Grid.TopToBottom
        delegate: RegisterDeligate {
            width: grid.cellWidth - grid.cellHeight * 0.05
            height: grid.cellHeight * 0.95
        }
    }

    ModuleImportDialog { id: importDialog }
    BackupsDialog { id: backupsDialog }
}
