// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtTest 1.12

// The noise page: reached with Ctrl+3, a measurement at rest with its
// progress, time left and the terms known so far, a recording opened (and
// refused when the module moved), and the exports.
Item {
    id: testRoot
    width: 1024
    height: 720

    Component {
        id: dataPageComponent
        Loader { source: "qrc:/DataPage.qml"; width: 1024; height: 720 }
    }
    Component {
        id: pageComponent
        Loader { source: "qrc:/NoisePage.qml"; width: 1024; height: 720 }
    }

    TestCase {
        name: "NoisePage"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        function child(item, name) {
            var found = findChild(item, name)
            verify(found, "no child " + name)
            return found
        }

        function createPage() {
            var loader = createTemporaryObject(pageComponent, testRoot)
            tryCompare(loader, "status", Loader.Ready)
            return loader.item
        }

        function test_ctrl3ShowsTheNoisePage() {
            var loader = createTemporaryObject(dataPageComponent, testRoot)
            tryCompare(loader, "status", Loader.Ready)
            var view = child(loader.item, "swipeView")
            loader.item.forceActiveFocus()
            keyClick(Qt.Key_3, Qt.ControlModifier)
            compare(view.currentIndex, 2, "Ctrl+3 should show the noise page")
            verify(child(loader.item, "noisePage").visible)
            keyClick(Qt.Key_1, Qt.ControlModifier)
            compare(view.currentIndex, 0)
        }

        function test_measurementShowsProgressTimeLeftAndTermsSoFar() {
            var page = createPage()
            var noise = backEnd.noise
            mouseClick(child(page, "noiseMeasureButton"))
            verify(noise.measuring, "the one-minute check should start: " + noise.error)
            compare(noise.plannedSeconds, 60)
            backEnd.feedNoiseSamples(30, 100)
            fuzzyCompare(child(page, "noiseProgress").value, 0.5, 0.02)
            compare(child(page, "noiseTimeLeft").text, "0:30 left")
            // Past 30 s, the terms so far come from the worker.
            backEnd.feedNoiseSamples(1, 100)
            tryVerify(function() { return noise.hasResult }, 10000,
                      "no interim result after 30 s of samples")
            verify(noise.interim)
            verify(noise.measuring)
            compare(child(page, "noiseMeasureButton").text, "Finish now")
            backEnd.feedNoiseSamples(30, 100)
            verify(!noise.measuring, "the run should end when its time is up")
            tryVerify(function() { return noise.hasResult && !noise.interim }, 10000,
                      "no final result: " + noise.status + noise.error)
            compare(noise.channels.length, 6)
            // White noise of 0.01 deg/s a sample at 100 Hz: N = 0.001 deg/s/sqrt(Hz),
            // 0.06 deg/sqrt(h).
            var gx = noise.channels[0]
            verify(gx.N.known, gx.N.reason)
            fuzzyCompare(gx.N.value, 0.001, 0.0001)
            fuzzyCompare(gx.N.sheet, 60 * gx.N.value, 1e-9)
            compare(gx.N.sheetUnit, "deg/sqrt(h)")
            var cell = child(page, "noiseCell_0_1")
            verify(cell.text.indexOf("deg/sqrt(h)") >= 0, cell.text)
            var accN = noise.channels[3].N
            compare(accN.sheetUnit, "ug/sqrt(Hz)")
            fuzzyCompare(accN.sheet, accN.value * 1e6 / 9.80665, 1e-6)
            // A minute shows no random walk: said, not guessed.
            verify(!gx.K.known)
            verify(child(page, "noiseCell_0_3").text.indexOf("recording of about") >= 0,
                   child(page, "noiseCell_0_3").text)
            compare(child(page, "noiseAllanPlot").drawnSeries, 6, "3 axes and their fitted lines")
            compare(child(page, "noisePsdPlot").drawnSeries, 3)
        }

        function test_aGapRefusesTheRunAndTheEarlierTermsSaySo() {
            var page = createPage()
            var noise = backEnd.noise
            verify(noise.measure(60))
            backEnd.feedNoiseSamples(31, 100)
            tryVerify(function() { return noise.hasResult }, 10000, "no interim result")
            verify(noise.interim)
            backEnd.skipNoiseTime(0.5)
            backEnd.feedNoiseSamples(30, 100)
            tryVerify(function() { return !noise.busy && !noise.measuring }, 10000)
            var error = child(page, "noiseError")
            verify(error.text.indexOf("Refused: a gap of") === 0, error.text)
            // The table still shows the first half, no longer as "so far".
            verify(noise.hasResult)
            verify(!noise.interim)
            verify(noise.source.indexOf("whole run was refused") > 0, noise.source)
            verify(child(page, "noiseSource").text.indexOf("so far") < 0)
        }

        function test_cancelDropsTheMeasurement() {
            var page = createPage()
            var noise = backEnd.noise
            mouseClick(child(page, "noiseMeasureButton"))
            backEnd.feedNoiseSamples(5, 100)
            mouseClick(child(page, "noiseCancelButton"))
            verify(!noise.measuring)
            compare(noise.status, "Measurement cancelled.")
            compare(noise.hasResult, false, "a cancelled run leaves no result")
            backEnd.feedNoiseSamples(60, 100)
            verify(!noise.busy, "samples after a cancel start no analysis")
        }

        function test_aRecordingIsAnalysedWithItsTemperature() {
            var page = createPage()
            var noise = backEnd.noise
            verify(noise.openRecording(backEnd.writeNoiseCsv(120, 100)), noise.error)
            tryVerify(function() { return !noise.busy }, 20000, "the analysis did not end")
            compare(noise.error, "")
            verify(noise.hasResult)
            verify(!noise.interim)
            fuzzyCompare(noise.durationSeconds, 120, 0.5)
            // One reading a second from 25 to 26 degrees.
            verify(noise.temperature.length >= 115, noise.temperature.length)
            fuzzyCompare(noise.temperature[0][1], 25, 0.05)
            compare(child(page, "noiseTemperaturePlot").drawnSeries, 1)
        }

        function test_aRecordingWithoutTemperatureShowsNoneNotTheLastMeasurements() {
            var page = createPage()
            var noise = backEnd.noise
            verify(noise.measure(60))
            for (var i = 0; i < 60; ++i) {
                backEnd.feedNoiseSamples(1, 100)
                backEnd.feedNoiseTemperature(30 + i / 60)
            }
            tryVerify(function() { return !noise.busy && !noise.measuring }, 10000)
            verify(noise.temperature.length >= 55, "the measurement's own readings")
            verify(noise.openRecording(backEnd.writeNoiseCsv(30, 100, false, false)))
            tryVerify(function() { return !noise.busy }, 20000)
            compare(noise.source.indexOf("rest-"), 0)
            compare(noise.temperature.length, 0, "the file holds no temperature")
            verify(child(page, "noiseTemperaturePlot").title.indexOf("none in this data") > 0)
        }

        function test_aRecordingWithMotionIsRefusedSayingWhen() {
            var page = createPage()
            var noise = backEnd.noise
            verify(noise.openRecording(backEnd.writeNoiseCsv(60, 100, true)))
            tryVerify(function() { return !noise.busy }, 20000, "the analysis did not end")
            var error = child(page, "noiseError")
            verify(error.visible)
            verify(error.text.indexOf("moved at 2") >= 0, error.text) // around 28-32 s
        }

        function test_exportsWriteTheCurvesJsonAndYaml() {
            var page = createPage()
            var noise = backEnd.noise
            verify(noise.openRecording(backEnd.writeNoiseCsv(60, 100)))
            tryVerify(function() { return noise.hasResult && !noise.busy }, 20000)
            verify(page.exportTo("csv"))
            var csv = backEnd.fileText(page.lastExport.replace("Saved ", ""))
            verify(csv.indexOf("channel,curve,x,y,low,high\ngyro_x,adev,") === 0, csv.slice(0, 80))
            verify(csv.indexOf("acc_z,fit,") > 0)
            verify(csv.indexOf("gyro_y,psd,") > 0)
            verify(page.exportTo("json"))
            var json = JSON.parse(backEnd.fileText(page.lastExport.replace("Saved ", "")))
            compare(json.channels.length, 6)
            compare(json.channels[0].name, "gyro_x")
            verify(page.exportTo("yaml"))
            var yaml = backEnd.fileText(page.lastExport.replace("Saved ", ""))
            verify(yaml.indexOf("gyroscope_noise_density: ") >= 0, yaml)
            verify(page.exportPng())
            tryVerify(function() { return page.lastExport.indexOf(".png") > 0 }, 10000,
                      "PNG not saved: " + noise.exportError)
            verify(backEnd.fileText(page.lastExport.replace("Saved ", "")).length > 0)
        }

        function test_exportWithoutResultOrIntoAFolderIsRefused() {
            var noise = backEnd.noise
            verify(noise.openRecording(backEnd.writeNoiseCsv(30, 100)))
            tryVerify(function() { return noise.hasResult && !noise.busy }, 20000)
            var folder = noise.suggestedPath("json").replace(/\/[^\/]*$/, "")
            verify(!noise.exportJson(folder), "writing over a folder must fail")
            verify(noise.exportError.indexOf("Could not write") === 0, noise.exportError)
        }
    }
}
