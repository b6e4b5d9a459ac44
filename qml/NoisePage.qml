// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import "components"

// How noisy and how stable the module is: a measurement at rest or a
// recording, its Allan curves with intervals and fitted lines, the N, B, K
// table in channel and datasheet units, the spectra and the temperature.
Page {
    id: pageRoot

    // The backend's noise object (NoiseCheck).
    property var noise: backEnd.noise
    property string sensor: "gyro"
    property string lastExport: ""
    readonly property var durations: [60, 300, 900, 3600, 3 * 3600, 6 * 3600]
    readonly property var axisColors: ["#ef5350", "#66bb6a", "#42a5f5"]

    function clockText(seconds) {
        var s = Math.round(seconds)
        var h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60), r = s % 60
        function two(v) { return (v < 10 ? "0" : "") + v }
        return (h > 0 ? h + ":" + two(m) : m) + ":" + two(r)
    }

    function number(v) {
        return Number(v).toPrecision(3)
    }

    // A term's cell: value with its 90 % interval, in the channel's unit and
    // the datasheet's; or why it is not known.
    function termText(t) {
        if (!t)
            return ""
        if (!t.known)
            return "—  " + (t.reason || "")
        return number(t.value) + " [" + number(t.low) + ", " + number(t.high) + "] " + t.unit
            + "\n" + number(t.sheet) + " [" + number(t.sheetLow) + ", " + number(t.sheetHigh)
            + "] " + t.sheetUnit
    }

    function channelsOf(kind) {
        var out = []
        var all = noise.channels
        for (var i = 0; i < all.length; ++i)
            if (all[i].kind === kind)
                out.push(all[i])
        return out
    }

    function allanSeries(kind) {
        var chs = channelsOf(kind), out = []
        for (var i = 0; i < chs.length; ++i) {
            out.push({ name: chs[i].name, color: axisColors[i % 3], points: chs[i].adev, line: false })
            out.push({ name: chs[i].name + " fit", color: axisColors[i % 3], points: chs[i].fit,
                       line: true, dashed: true })
        }
        return out
    }

    function psdSeries(kind) {
        var chs = channelsOf(kind), out = []
        for (var i = 0; i < chs.length; ++i)
            out.push({ name: chs[i].name, color: axisColors[i % 3], points: chs[i].psd, line: true })
        return out
    }

    function exportTo(kind) {
        var path = noise.suggestedPath(kind)
        var ok = false
        if (kind === "csv")
            ok = noise.exportCsv(path)
        else if (kind === "json")
            ok = noise.exportJson(path)
        else if (kind === "yaml")
            ok = noise.exportYaml(path)
        lastExport = ok ? qsTr("Saved %1").arg(path) : ""
        return ok
    }

    function exportPng() {
        var path = noise.suggestedPath("png")
        return content.grabToImage(function(result) {
            pageRoot.lastExport = noise.exportPng(result.image, path) ? qsTr("Saved %1").arg(path) : ""
        })
    }

    header: ToolBar {
        Flow {
            anchors.fill: parent
            spacing: 4

            ComboBox {
                id: durationBox
                objectName: "noiseDuration"
                width: 170
                model: [qsTr("1 min check"), qsTr("5 min"), qsTr("15 min"), qsTr("1 h"), qsTr("3 h"), qsTr("6 h")]
                enabled: !noise.measuring
            }
            ToolButton {
                objectName: "noiseMeasureButton"
                text: noise.measuring ? qsTr("Finish now") : qsTr("Measure at rest")
                enabled: noise.measuring || !noise.busy
                onClicked: noise.measuring ? noise.finish() : noise.measure(durations[durationBox.currentIndex])
            }
            ToolButton {
                objectName: "noiseCancelButton"
                text: qsTr("Cancel")
                visible: noise.measuring
                onClicked: noise.cancel()
            }
            ToolButton {
                objectName: "noiseOpenButton"
                text: qsTr("Open recording...")
                enabled: !noise.measuring && !noise.busy
                onClicked: noise.chooseRecording()
            }
            ToolSeparator {}
            Repeater {
                model: [["PNG", "png"], ["CSV", "csv"], ["JSON", "json"], ["YAML", "yaml"]]
                ToolButton {
                    objectName: "noiseExport" + modelData[0]
                    text: modelData[0]
                    enabled: noise.hasResult
                    onClicked: modelData[1] === "png" ? pageRoot.exportPng() : pageRoot.exportTo(modelData[1])
                }
            }
        }
    }

    Flickable {
        anchors.fill: parent
        contentHeight: content.height
        clip: true
        ScrollBar.vertical: ScrollBar {}

        Column {
            id: content
            objectName: "noiseContent"
            width: parent.width
            spacing: 6
            padding: 8

            RowLayout {
                width: content.width - 16
                visible: noise.measuring || noise.busy
                ProgressBar {
                    objectName: "noiseProgress"
                    Layout.fillWidth: true
                    from: 0
                    to: 1
                    value: noise.progress
                    indeterminate: !noise.measuring && noise.busy
                }
                Label {
                    objectName: "noiseTimeLeft"
                    text: noise.measuring ? qsTr("%1 left").arg(clockText(noise.secondsLeft)) : ""
                }
            }

            Label {
                objectName: "noiseStatus"
                width: content.width - 16
                wrapMode: Text.Wrap
                text: noise.status
                visible: text !== ""
            }
            Label {
                objectName: "noiseError"
                width: content.width - 16
                wrapMode: Text.Wrap
                color: "#ff8a80"
                text: noise.error !== "" ? noise.error : noise.exportError
                visible: text !== ""
            }
            Label {
                objectName: "noiseExported"
                width: content.width - 16
                text: pageRoot.lastExport
                visible: text !== ""
            }
            Label {
                objectName: "noiseSource"
                width: content.width - 16
                wrapMode: Text.Wrap
                visible: noise.hasResult
                text: qsTr("%1: %2 s at %3 Hz%4. 90 % intervals in brackets.")
                      .arg(noise.source).arg(Math.round(noise.durationSeconds))
                      .arg(Number(noise.rateHz).toFixed(1))
                      .arg(noise.interim ? qsTr(" (so far; the measurement goes on)") : "")
            }
            Label {
                objectName: "noiseWarning"
                width: content.width - 16
                wrapMode: Text.Wrap
                color: "#ffd180"
                text: noise.warning
                visible: noise.hasResult && text !== ""
            }
            Label {
                width: content.width - 16
                wrapMode: Text.Wrap
                visible: !noise.hasResult && !noise.measuring && !noise.busy
                text: qsTr("Put the module down where nothing moves it, then measure at rest (a one-minute check shows the white noise; bias instability and random walk need longer) or open a recording taken at rest.")
            }

            // N, B, K: one row a channel.
            GridLayout {
                objectName: "noiseTable"
                visible: noise.hasResult
                width: content.width - 16
                columns: 4
                columnSpacing: 12
                Repeater {
                    model: [qsTr("channel"), qsTr("N, white noise"), qsTr("B, bias instability"), qsTr("K, random walk")]
                    Label { text: modelData; font.bold: true }
                }
                Repeater {
                    model: noise.hasResult ? noise.channels.length * 4 : 0
                    Label {
                        objectName: "noiseCell_" + Math.floor(index / 4) + "_" + (index % 4)
                        readonly property var channel: noise.channels[Math.floor(index / 4)]
                        Layout.fillWidth: index % 4 !== 0
                        Layout.preferredWidth: index % 4 === 0 ? 60 : 100
                        wrapMode: Text.Wrap
                        font.pixelSize: 12
                        text: !channel ? "" : index % 4 === 0 ? channel.name
                            : pageRoot.termText(channel[["N", "B", "K"][index % 4 - 1]])
                    }
                }
            }

            TabBar {
                id: sensorBar
                objectName: "noiseSensorBar"
                visible: noise.hasResult
                width: 320
                TabButton { text: qsTr("Gyroscope"); onClicked: pageRoot.sensor = "gyro" }
                TabButton { text: qsTr("Accelerometer"); onClicked: pageRoot.sensor = "acc" }
            }

            Row {
                visible: noise.hasResult
                spacing: 8
                NoisePlot {
                    objectName: "noiseAllanPlot"
                    width: (content.width - 24) / 2
                    height: 300
                    title: qsTr("Allan deviation (points with 90 % intervals, fitted lines dashed)")
                    xLabel: qsTr("cluster time (s)")
                    yLabel: sensor === "gyro" ? "deg/s" : "m/s^2"
                    series: noise.hasResult ? pageRoot.allanSeries(sensor) : []
                }
                NoisePlot {
                    objectName: "noisePsdPlot"
                    width: (content.width - 24) / 2
                    height: 300
                    title: qsTr("Spectrum (Welch)")
                    xLabel: qsTr("frequency (Hz)")
                    yLabel: sensor === "gyro" ? "(deg/s)^2/Hz" : "(m/s^2)^2/Hz"
                    series: noise.hasResult ? pageRoot.psdSeries(sensor) : []
                }
            }

            NoisePlot {
                objectName: "noiseTemperaturePlot"
                visible: noise.hasResult
                width: content.width - 16
                height: 160
                logX: false
                logY: false
                title: noise.temperature.length > 0 ? qsTr("Temperature over the run")
                                                    : qsTr("Temperature over the run: none in this data")
                xLabel: qsTr("time (s)")
                yLabel: "°C"
                series: [{ name: "temperature", color: "#ffb74d", points: noise.temperature, line: true }]
            }
        }
    }
}
