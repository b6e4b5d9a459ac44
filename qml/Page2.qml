// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import "components"

// The module's register map: one cell per register, filled column by column.
Page {
    id: pageRoot

    property alias grid: grid

    // Text typed in the filter box; empty shows every register.
    property alias filterText: filterField.text

    // Whether `reg` answers `text`: its name with blanks and case folded, or
    // its address written either way ("0x34" or "52").
    function matches(reg, text) {
        var wanted = text.trim().toLowerCase()
        if (wanted === "")
            return true
        var fold = function (t) { return t.toLowerCase().replace(/\s+/g, " ") }
        if (fold(reg.registerName).indexOf(fold(wanted)) >= 0)
            return true
        var address = Number(reg.address)
        return wanted === "" + address || wanted === "0x" + address.toString(16)
                || wanted === "0x0" + address.toString(16)
    }

    // The registers of `list` that answer `text`, in catalogue order.
    function filtered(list, text) {
        var shown = []
        if (!list)
            return shown
        for (var i = 0; i < list.length; ++i) {
            if (list[i] && matches(list[i], text))
                shown.push(list[i])
        }
        return shown
    }

    // A vertical wheel turn moves the map sideways by half a column (its
    // columns extend to the right); a sideways one as it comes.
    function scrollByWheel(view, wheel) {
        var step = wheel.pixelDelta.y !== 0 || wheel.pixelDelta.x !== 0
                ? (wheel.pixelDelta.y !== 0 ? wheel.pixelDelta.y : wheel.pixelDelta.x)
                : (wheel.angleDelta.y !== 0 ? wheel.angleDelta.y : wheel.angleDelta.x) / 120
                  * view.cellWidth / 2
        var last = view.originX + Math.max(0, view.contentWidth - view.width)
        view.contentX = Math.max(view.originX, Math.min(last, view.contentX - step))
    }

    header: Column {
        width: parent ? parent.width : 0

        ToolBar {
            width: parent.width

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
                // Import opens the desktop's file dialog over the table's,
                // which keeps the folder's files and a path field beside it.
                ToolButton {
                    objectName: "importButton"
                    text: qsTr("Import...")
                    onClicked: {
                        importDialog.open()
                        Qt.callLater(importDialog.browse)
                    }
                }
                ToolButton {
                    objectName: "backupsButton"
                    text: qsTr("Backups...")
                    onClicked: backupsDialog.open()
                }

                TextField {
                    id: filterField
                    objectName: "registerFilter"
                    width: 200
                    placeholderText: qsTr("Filter: name or address")
                    selectByMouse: true
                    Keys.onEscapePressed: text = ""
                }

                CheckBox {
                    id: decimalBox
                    objectName: "decimalBox"
                    text: qsTr("Decimal")
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: qsTr("Addresses and bytes in decimal instead of hexadecimal")
                }
            }
        }

        // The values on the page are the last ones read; edits wait for a connection.
        Rectangle {
            objectName: "registersDisconnected"
            width: parent.width
            height: visible ? disconnectedLabel.implicitHeight + 12 : 0
            visible: !(backEnd.connection && backEnd.connection.linkOpen)
            color: "#ef6c00"

            Label {
                id: disconnectedLabel
                anchors.fill: parent
                anchors.margins: 6
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WordWrap
                color: "white"
                text: qsTr("Not connected: the values are the last ones read; edits are refused until you connect.")
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
    // whose flow a long line would keep re-laying. It goes when it no longer
    // applies: a link came or went, or the page wrote to the module.
    footer: Label {
        objectName: "moduleFilesStatus"
        visible: text.length > 0
        padding: 6
        elide: Text.ElideMiddle
        text: importDialog.opened ? "" : backEnd.moduleFiles.status
        color: backEnd.moduleFiles.failed ? "#c62828" : Material.foreground
    }

    GridView {
        id: grid
        objectName: "registerGrid"
        property var arrivalClock: arrivalClock
        property bool decimal: decimalBox.checked
        // While a filter is typed, the matches show in their own grid instead.
        visible: pageRoot.filterText.trim() === ""
        ScrollBar.horizontal: ScrollBar {
            objectName: "registerScrollBar"
            policy: ScrollBar.AlwaysOn
        }
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

    // The registers that answer the filter, laid out as the map is.
    GridView {
        id: filteredGrid
        objectName: "filteredGrid"
        property var arrivalClock: arrivalClock
        property bool decimal: decimalBox.checked
        anchors.fill: parent
        anchors.margins: 20
        clip: true
        visible: !grid.visible
        model: visible ? pageRoot.filtered(grid.model, pageRoot.filterText) : []
        cellWidth: grid.cellWidth
        cellHeight: grid.cellHeight
        flow: Grid.TopToBottom
        ScrollBar.horizontal: ScrollBar { policy: ScrollBar.AlwaysOn }
        delegate: RegisterDeligate {
            width: filteredGrid.cellWidth - filteredGrid.cellHeight * 0.05
            height: filteredGrid.cellHeight * 0.95
        }

        Label {
            objectName: "filterNothing"
            anchors.centerIn: parent
            visible: filteredGrid.count === 0
            text: qsTr("No register matches \"%1\".").arg(pageRoot.filterText.trim())
        }
    }

    // Over the maps without taking their clicks: only the wheel.
    MouseArea {
        objectName: "registerWheelArea"
        anchors.fill: grid
        acceptedButtons: Qt.NoButton
        onWheel: pageRoot.scrollByWheel(grid.visible ? grid : filteredGrid, wheel)
    }

    ModuleImportDialog { id: importDialog }
    BackupsDialog { id: backupsDialog }
}
