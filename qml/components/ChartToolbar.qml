// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

// Pause, zoom reset and export for the live page's charts. Pausing holds every
// chart still (wheel zooms, drag pans, double-click resets) while samples go
// on arriving into their live windows, which show again on resume. Exports
// write the range each chart shows into the export folder the settings
// remember, as PNG and as CSV.
ToolBar {
    id: root

    // One entry per chart: { item: the CustomPlotItem, file: name in the
    // exported file names, title: name in the menu }.
    property var charts: []
    property bool paused: false
    // What the last export did, shown until the next one or a while later.
    property string exportMessage: ""
    readonly property var settings: backEnd.viewSettings

    function togglePause() {
        paused = !paused
    }

    function resetViews() {
        for (var i = 0; i < charts.length; ++i)
            charts[i].item.resetView()
    }

    readonly property bool anyZoomed: {
        for (var i = 0; i < charts.length; ++i) {
            if (charts[i].item.zoomed)
                return true
        }
        return false
    }

    // Writes the charts at `indexes` in the formats asked for; returns the
    // paths written (the message says what happened either way).
    function exportCharts(indexes, png, csv) {
        var base = settings.newExportBase()
        if (base === "") {
            exportMessage = qsTr("Nothing exported: %1").arg(settings.lastError)
            messageTimer.restart()
            return []
        }
        var written = []
        var failures = []
        for (var i = 0; i < indexes.length; ++i) {
            var chart = charts[indexes[i]]
            var formats = []
            if (png)
                formats.push("png")
            if (csv)
                formats.push("csv")
            for (var f = 0; f < formats.length; ++f) {
                var path = base + "-" + chart.file + "." + formats[f]
                var error = formats[f] === "png" ? chart.item.savePng(path) : chart.item.saveCsv(path)
                if (error === "")
                    written.push(path)
                else
                    failures.push(qsTr("%1: %2").arg(path).arg(error))
            }
        }
        if (failures.length > 0)
            exportMessage = qsTr("Could not write %1").arg(failures.join("; "))
        else if (written.length === 1)
            exportMessage = qsTr("Saved %1").arg(written[0])
        else
            exportMessage = qsTr("Saved %1 files to %2").arg(written.length).arg(settings.exportFolder)
        messageTimer.restart()
        return written
    }

    function allIndexes() {
        var all = []
        for (var i = 0; i < charts.length; ++i)
            all.push(i)
        return all
    }

    function exportAll() {
        return exportCharts(allIndexes(), true, true)
    }

    // Clears the message once; nothing runs while there is none.
    Timer {
        id: messageTimer
        interval: 10000
        onTriggered: root.exportMessage = ""
    }

    RowLayout {
        anchors.fill: parent
        spacing: 4

        ToolButton {
            id: pauseButton
            objectName: "pauseButton"
            text: root.paused ? qsTr("Resume") : qsTr("Pause")
            // Keyboard focus stays with the page: Space is the pause key.
            focusPolicy: Qt.NoFocus
            onClicked: root.togglePause()
            ToolTip.visible: hovered
            ToolTip.delay: 800
            ToolTip.text: qsTr("Pause or resume all charts (Space)")
        }

        ToolButton {
            objectName: "resetViewButton"
            text: qsTr("Reset zoom")
            enabled: root.paused && root.anyZoomed
            focusPolicy: Qt.NoFocus
            onClicked: root.resetViews()
        }

        ToolButton {
            id: exportButton
            objectName: "exportButton"
            text: qsTr("Export")
            focusPolicy: Qt.NoFocus
            onClicked: exportMenu.open()
            ToolTip.visible: hovered && !exportMenu.visible
            ToolTip.delay: 800
            ToolTip.text: qsTr("Save the charts as shown, as PNG or CSV (Ctrl+E: all, both)")

            Menu {
                id: exportMenu
                objectName: "exportMenu"
                y: exportButton.height

                MenuItem {
                    text: qsTr("All charts as PNG and CSV")
                    onTriggered: root.exportAll()
                }
                MenuItem {
                    text: qsTr("All charts as PNG")
                    onTriggered: root.exportCharts(root.allIndexes(), true, false)
                }
                MenuItem {
                    text: qsTr("All charts as CSV")
                    onTriggered: root.exportCharts(root.allIndexes(), false, true)
                }
                MenuSeparator {}

                Instantiator {
                    model: root.charts
                    delegate: Menu {
                        title: modelData.title
                        MenuItem {
                            text: qsTr("PNG")
                            onTriggered: root.exportCharts([index], true, false)
                        }
                        MenuItem {
                            text: qsTr("CSV")
                            onTriggered: root.exportCharts([index], false, true)
                        }
                    }
                    onObjectAdded: exportMenu.insertMenu(4 + index, object)
                    onObjectRemoved: exportMenu.removeMenu(object)
                }

                MenuSeparator {}
                MenuItem {
                    objectName: "exportFolderItem"
                    text: qsTr("Folder: %1…").arg(root.settings.exportFolder)
                    onTriggered: root.settings.chooseExportFolder()
                }
            }
        }

        Label {
            objectName: "chartStatus"
            Layout.fillWidth: true
            elide: Text.ElideRight
            color: root.exportMessage !== "" ? "#ffcc80" : "#bdbdbd"
            text: root.exportMessage !== ""
                  ? root.exportMessage
                  : root.paused ? qsTr("Paused: wheel zooms time, Ctrl+wheel values, drag moves, double-click resets")
                                : ""
        }
    }
}
