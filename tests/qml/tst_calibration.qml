// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtTest 1.12
import QtQuick.Controls 2.12

// The three calibration pages' state tables, driven by their buttons and the
// backend's signals; the question a poor result asks; and what the live page
// shows of a calibration once its page is gone.
Item {
    id: testRoot
    width: 800
    height: 600

    Component {
        id: accComponent
        Loader { source: "qrc:/AccCal.qml"; width: 800; height: 600 }
    }
    Component {
        id: gyroComponent
        Loader { source: "qrc:/GyroscopeCal.qml"; width: 800; height: 600 }
    }
    Component {
        id: magComponent
        Loader { source: "qrc:/MagCal.qml"; width: 800; height: 600 }
    }

    // The live page over a navigation stack, as the main window has them.
    Component {
        id: liveComponent
        Item {
            width: 1024
            height: 720
            property alias stack: stack
            property alias page: page1Loader.item
            StackView {
                id: stack
                anchors.fill: parent
                initialItem: Item {}
            }
            Loader {
                id: page1Loader
                anchors.fill: parent
                source: "qrc:/Page1.qml"
                onLoaded: item.stackView = stack
            }
        }
    }
    Component {
        id: coverComponent
        Item {}
    }

    TestCase {
        name: "Calibration"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        property var pageHosts: []

        function makePage(component) {
            var loader = createTemporaryObject(component, testRoot)
            verify(loader.item, "page loads")
            pageHosts.push(loader)
            return loader.item
        }

        // The window's stack hides a page before it destroys it; the
        // magnetometer page's graph draws on the render thread and must not be
        // destroyed in the middle of a frame, so pages go the same way here.
        function cleanup() {
            var hidden = false
            for (var i = 0; i < pageHosts.length; ++i) {
                if (pageHosts[i]) {
                    pageHosts[i].visible = false
                    hidden = true
                }
            }
            pageHosts = []
            if (hidden)
                waitForRendering(testRoot)
        }

        function child(page, name) {
            var item = findChild(page, name)
            verify(item, name + " exists")
            return item
        }

        // The guidance beside the sensor views binds to the backend's
        // calibrationGuide, and the fit the user clicks goes back to it.
        function test_guidancePanelsFollowTheGuide() {
            var guide = backEnd.calibrationGuide
            guide.faceUp = "X-Up"
            guide.faceProblem = "This is X-Up; place the module with Z-Up."
            var acc = makePage(accComponent)
            compare(guide.holdPositions, true, "the page gathers only steady positions")
            compare(child(acc, "faceUpText").text, "X-Up")
            compare(child(acc, "faceProblemText").text, "This is X-Up; place the module with Z-Up.")
            guide.faceProblem = ""
            compare(child(acc, "faceProblemText").text, "")

            var mag = makePage(magComponent)
            guide.magCoverage = 42
            guide.magHint = "Turn the +Y face towards the floor."
            guide.magFits = [
                { name: "Method 4", valid: true, spread: 0.5, best: false },
                { name: "Method 1", valid: true, spread: 0.3, heldOutSpread: 0.35, best: true },
                { name: "Method 2", valid: true, spread: 1.2, best: false },
                { name: "Method 3", valid: false, spread: -1, best: false },
                { name: "Ellipsoid-specific fit", valid: false, spread: -1, heldOutSpread: -1,
                  best: false, reason: "axis ratio 2.50 beyond the bound of 2.00" }
            ]
            guide.magChosenFit = 1
            compare(child(mag, "coverageText").text, "Covered: 42%")
            compare(child(mag, "magHintText").text, "Turn the +Y face towards the floor.")
            compare(child(mag, "fitChoice1").checked, true)
            compare(child(mag, "fitChoice3").enabled, false)
            compare(child(mag, "fitChoice4").enabled, false)
            compare(child(mag, "fitChoice1").text, "Method 1: 0.30% / 0.35% (best)")
            verify(child(mag, "fitChoice4").text.indexOf("not valid: axis ratio 2.50") >= 0,
                   "a refused fit names the bound: " + child(mag, "fitChoice4").text)
            // The new rows are placed in the list on the next frame.
            waitForRendering(mag)
            mouseClick(child(mag, "fitChoice2"))
            compare(guide.magChosenFit, 2)
            var side = child(mag, "sideArea")
            verify(side.width > 0, "the panel stands beside the scatter")
            compare(child(mag, "reportButton").enabled, false)
            guide.magFits = []
            guide.magChosenFit = -1
        }

        function test_accelerometerFullRun() {
            var page = makePage(accComponent)
            var start = child(page, "buttonStart")
            var back = child(page, "buttonBack")
            var hint = child(page, "hintText")
            compare(page.calState, 0)
            compare(start.text, "Start")

            mouseClick(start)
            compare(page.calState, 1)
            compare(back.enabled, false)
            compare(backEnd.callCount("accCalButton"), 1)

            var positions = ["Z-Up", "Z-Down", "Y-Up", "Y-Down", "X-Up", "X-Down"]
            for (var i = 0; i < positions.length; ++i) {
                compare(page.calState, 2 * i + 1)
                compare(hint.text, "Place Device " + positions[i] + " and Click Ready.")
                compare(start.text, "Ready")
                compare(start.enabled, true)
                compare(child(page, "loading").playing, false)

                mouseClick(start)
                compare(page.calState, 2 * i + 2)
                compare(start.text, "Wait")
                compare(start.enabled, false)
                compare(child(page, "loading").visible, true)
                compare(child(page, "loading").playing, true)
                compare(back.enabled, false, "no leaving a running calibration")
                compare(backEnd.callCount("accCalButton"), i + 2)

                backEnd.accCalStageFinished()
            }
            // State 13 falls straight back to 0.
            compare(page.calState, 0)
            compare(start.text, "Start")
            compare(start.enabled, true)
            compare(back.enabled, true)
            compare(child(page, "loading").visible, false)
            compare(backEnd.callCount("accCalButton"), 7)

            backEnd.accCalFinished(87)
            compare(hint.text, "Calibration Finished! Quality:87/100")
            compare(child(page, "resetTimer").interval, 20000)
        }

        function test_cancelEndsTheRunAtAnyStage_data() {
            return [
                { tag: "accelerometer, first prompt", page: "acc", clicks: 1 },
                { tag: "accelerometer, gathering", page: "acc", clicks: 2 },
                { tag: "accelerometer, later prompt", page: "acc", clicks: 2, stages: 1 },
                { tag: "gyroscope, prompt", page: "gyro", clicks: 1 },
                { tag: "gyroscope, measuring", page: "gyro", clicks: 2 },
                { tag: "magnetometer, gathering", page: "mag", clicks: 1 }
            ]
        }

        function test_cancelEndsTheRunAtAnyStage(data) {
            var page = makePage(data.page === "acc" ? accComponent
                                : data.page === "gyro" ? gyroComponent : magComponent)
            var cancel = child(page, "buttonCancel")
            var start = child(page, "buttonStart")
            compare(cancel.enabled, false, "nothing to cancel before Start")
            for (var i = 0; i < data.clicks; ++i)
                mouseClick(start)
            for (var j = 0; j < (data.stages || 0); ++j)
                backEnd.accCalStageFinished()
            verify(page.calState !== 0)
            // Cancel sits beside Back, which is shut while a run goes on.
            compare(child(page, "buttonBack").enabled, false)
            verify(cancel.enabled, "Cancel offered in state " + page.calState)
            var before = backEnd.callCount("cancelCalibration")

            mouseClick(cancel)
            compare(backEnd.callCount("cancelCalibration"), before + 1,
                    "the backend puts the module's parameters back")
            compare(page.calState, 0)
            compare(start.text, "Start")
            compare(start.enabled, true)
            compare(child(page, "buttonBack").enabled, true)
            compare(cancel.enabled, false)
            compare(page.instruction, "")
            verify(child(page, "hintText").text.indexOf("Cancelled") === 0, child(page, "hintText").text)
            var loading = findChild(page, "loading")
            if (loading)
                compare(loading.visible, false)
        }

        function test_instructionStaysWhileItAppliesClearOfTheProgress() {
            var page = makePage(accComponent)
            var start = child(page, "buttonStart")
            var line = child(page, "instructionLine")
            compare(line.visible, false)
            // A short hold, so that the fade comes soon.
            child(page, "resetTimer").interval = 50
            mouseClick(start)
            compare(child(page, "instructionLabel").text, "Place the module Z-Up and click Ready.")
            // The banner fades after its hold; the line under the chart does not.
            child(page, "resetTimer").interval = 50
            tryCompare(child(page, "hintRect"), "opacity", 0, 10000)
            verify(line.visible && line.height > 0)
            mouseClick(start)
            compare(child(page, "instructionLabel").text,
                    "Hold the module Z-Up still while its samples are gathered.")
            var loading = child(page, "loading")
            verify(loading.visible)
            var progressBottom = loading.mapToItem(page, 0, loading.height).y
            var lineTop = line.mapToItem(page, 0, 0).y
            verify(progressBottom <= lineTop, "progress ends at " + progressBottom
                   + ", the line starts at " + lineTop)
            // The result takes the line's place when the run ends.
            for (var i = 0; i < 6; ++i) {
                backEnd.accCalStageFinished()
                if (page.calState !== 0)
                    mouseClick(start)
            }
            backEnd.accCalFinished(87)
            compare(child(page, "instructionLabel").text, "Calibration Finished! Quality:87/100")
        }

        function test_resultBannerClickedAwayKeepsTheResult() {
            var page = makePage(gyroComponent)
            mouseClick(child(page, "buttonStart"))
            mouseClick(child(page, "buttonStart"))
            backEnd.gyroCalFinished(92)
            var banner = child(page, "hintRect")
            tryVerify(function () { return banner.opacity > 0.5 }, 5000, "the result shows")
            mouseClick(banner)
            tryCompare(banner, "opacity", 0, 5000, "a click uncovers the chart")
            compare(child(page, "instructionLabel").text, "Calibration Finished! Quality:92/100")
            verify(child(page, "instructionLine").visible)
        }

        // A result or a fault stays 20 s: it takes a strip of its own above the
        // line under the chart, and the chart and the fit list give it room
        // instead of being covered; a passing hint still crosses the middle.
        function test_resultTakesItsOwnStripNotTheChart_data() {
            return [
                { tag: "gyroscope", page: "gyro" },
                { tag: "magnetometer", page: "mag" }
            ]
        }

        function test_resultTakesItsOwnStripNotTheChart(data) {
            var page = makePage(data.page === "gyro" ? gyroComponent : magComponent)
            var banner = child(page, "hintRect")
            var view = child(page, "sensorViewArea")
            var side = child(page, "sideArea")
            var line = child(page, "instructionLine")
            mouseClick(child(page, "buttonStart"))
            tryVerify(function () { return banner.opacity > 0.5 }, 5000, "the hint shows")
            compare(child(page, "resultSlot").height, 0, "a hint takes no room")
            compare(banner.y, (page.height - banner.height) / 2)
            if (data.page === "gyro") {
                mouseClick(child(page, "buttonStart"))
                backEnd.gyroCalFinished(92)
            } else {
                mouseClick(child(page, "buttonStart"))
                backEnd.magCalFinished(64)
            }
            tryVerify(function () { return banner.opacity > 0.5 }, 5000, "the result shows")
            verify(banner.docked)
            var bannerTop = banner.mapToItem(page, 0, 0).y
            var bannerBottom = banner.mapToItem(page, 0, banner.height).y
            var viewBottom = view.mapToItem(page, 0, view.height).y
            var sideBottom = side.mapToItem(page, 0, side.height).y
            var footerArea = child(page, "sensorFooterArea")
            var footerBottom = footerArea.mapToItem(page, 0, footerArea.height).y
            verify(footerBottom <= bannerTop + 0.5, "the fits end at " + footerBottom + ", result starts at " + bannerTop)
            verify(viewBottom <= bannerTop + 0.5, "chart ends at " + viewBottom + ", result starts at " + bannerTop)
            verify(sideBottom <= bannerTop + 0.5, "panel ends at " + sideBottom + ", result starts at " + bannerTop)
            verify(bannerBottom <= line.mapToItem(page, 0, 0).y + 0.5, "the line under the chart stays clear")
            var shrunk = view.height
            verify(child(page, "hintText").text.indexOf("Calibration Finished! Quality:") === 0)
            // When it goes, the chart has its room back; the result stays on the line.
            child(page, "resetTimer").interval = 50
            child(page, "resetTimer").restart()
            tryCompare(banner, "opacity", 0, 10000)
            compare(view.height, shrunk + banner.dockHeight)
            var footer = child(page, "sensorFooterArea")
            fuzzyCompare(footer.mapToItem(page, 0, footer.height).y, line.mapToItem(page, 0, 0).y, 0.5)
            verify(child(page, "instructionLabel").text.indexOf("Calibration Finished! Quality:") === 0)
        }

        function test_reportShowsAsAPageAndSavesAsPdf() {
            var guide = backEnd.calibrationGuide
            guide.reports = { magnetometer: "Magnetometer calibration" }
            var page = makePage(magComponent)
            var button = child(page, "reportButton")
            verify(button.enabled)
            mouseClick(button)
            var popup = findChild(testRoot, "reportPopup")
            verify(popup, "the report opens")
            tryCompare(popup, "opened", true, 5000)
            var text = findChild(popup.contentItem, "reportText")
            verify(text)
            compare(text.textFormat, Text.RichText)
            verify(text.text.indexOf("<h2>Magnetometer calibration</h2>") >= 0, text.text)
            // The whole page fits the smallest window, its buttons included.
            verify(popup.width <= testRoot.width && popup.height <= testRoot.height,
                   popup.width + "x" + popup.height)
            var save = findChild(popup.contentItem, "reportPdfButton")
            var status = findChild(popup.contentItem, "reportPdfStatus")
            var corner = save.mapToItem(testRoot, save.width, save.height)
            verify(corner.x <= testRoot.width && corner.y <= testRoot.height)

            guide.setPdfAnswer("/reports/magnetometer-1.pdf", "")
            mouseClick(save)
            compare(guide.printed, ["magnetometer"])
            compare(status.text, "Saved as /reports/magnetometer-1.pdf")
            verify(!status.failed)

            guide.setPdfAnswer("", "Cannot write /reports/magnetometer-1.pdf: No space left on device")
            mouseClick(save)
            compare(status.text, "Cannot write /reports/magnetometer-1.pdf: No space left on device")
            verify(status.failed, "a failure is told as one")
            mouseClick(findChild(popup.contentItem, "reportCloseButton"))
            tryCompare(popup, "opened", false, 5000)
            guide.reports = {}
        }

        // The cloud keeps its shape: one length per unit on all three axes,
        // each named with the sensor's unit, and a new run starts new axes.
        function test_scatterAxesAreNamedAndEqual() {
            var page = makePage(magComponent)
            var graph = child(page, "scatterSlot").graph
            verify(graph, "the page holds the graph")
            var axes = [graph.scatter.axisX, graph.scatter.axisY, graph.scatter.axisZ]
            compare(axes[0].title, "Mag X (gauss)")
            compare(axes[1].title, "Mag Y (gauss)")
            compare(axes[2].title, "Mag Z (gauss)")
            verify(axes[0].titleVisible && axes[1].titleVisible && axes[2].titleVisible)

            mouseClick(child(page, "buttonStart"))
            var points = [Qt.vector3d(0.1, -0.2, 0.5), Qt.vector3d(0.9, 0.2, 0.4), Qt.vector3d(0.5, 0.0, 0.7)]
            for (var i = 0; i < points.length; ++i)
                backEnd.setMagVector(points[i])
            var span = axes[0].max - axes[0].min
            for (var a = 0; a < 3; ++a)
                fuzzyCompare(axes[a].max - axes[a].min, span, 1e-6)
            verify(span >= 0.8 && span < 1.0, "the widest extent with a margin: " + span)
            var ranges = ["x", "y", "z"]
            for (var j = 0; j < points.length; ++j) {
                for (var k = 0; k < 3; ++k) {
                    var v = points[j][ranges[k]]
                    verify(v > axes[k].min && v < axes[k].max, ranges[k] + " " + v + " shown")
                }
            }
            fuzzyCompare((axes[1].min + axes[1].max) / 2, 0, 1e-6)

            mouseClick(child(page, "buttonStart"))
            backEnd.magCalFinished(64)
            mouseClick(child(page, "buttonStart"))
            backEnd.setMagVector(Qt.vector3d(5, 5, 5))
            backEnd.setMagVector(Qt.vector3d(5.2, 5, 5))
            verify(axes[0].min > 4.5, "the last run's points no longer stretch the axes: " + axes[0].min)
            mouseClick(child(page, "buttonCancel"))
        }

        // Every dot sits inside its disc, covered cells filled, missing ones
        // a ring in their own colour that stands out from the disc.
        function test_coverageDotsStayInTheirDiscs() {
            var guide = backEnd.calibrationGuide
            var cells = []
            // Cells on the rim, where dots used to cross the disc's edge.
            for (var i = 0; i < 24; ++i) {
                var a = 2 * Math.PI * i / 24
                cells.push(Math.cos(a), Math.sin(a), i % 2 === 0 ? 0.01 : -0.01, i % 3 === 0 ? 1 : 0)
            }
            guide.coverageCells = cells
            var page = makePage(magComponent)
            var map = child(page, "coverageMap")
            waitForRendering(map)
            for (var k = 0; k < 24; ++k) {
                var d = map.dotOf(k)
                var reach = Math.sqrt(Math.pow(d.x - d.discX, 2) + Math.pow(d.y - d.discY, 2)) + d.radius
                verify(reach <= d.discRadius, "dot " + k + " reaches " + reach + " of " + d.discRadius)
            }
            var covered = map.dotOf(0)
            var missing = map.dotOf(1)
            // The canvas is read as the page shows it.
            function pixelOf(x, y) {
                var p = map.mapToItem(page, x, y)
                return image.pixel(Math.round(p.x), Math.round(p.y))
            }
            var image
            var fill
            // The canvas paints on a later frame.
            tryVerify(function () {
                image = grabImage(page)
                fill = pixelOf(covered.x, covered.y)
                return fill.g > 0.5 && fill.r < 0.5
            }, 5000, "a reached cell is green")
            var hole = pixelOf(missing.x, missing.y)
            verify(hole.r < 0.3, "a missing cell is open: " + hole)
            var ring = false
            for (var dx = -2; dx <= 2 && !ring; ++dx) {
                var p = pixelOf(missing.x + missing.radius - 0.75 + dx, missing.y)
                ring = p.r > 0.6 && p.g < 0.75
            }
            verify(ring, "a missing cell's ring is bright")
            guide.coverageCells = []
        }

        function test_nextFaceIsNotAnError() {
            var page = makePage(accComponent)
            var problem = child(page, "faceProblemText")
            backEnd.calibrationGuide.faceProblem = "This is Z-Up; place the module with Z-Down."
            mouseClick(child(page, "buttonStart"))
            compare(page.calState, 1)
            verify(!Qt.colorEqual(problem.color, "#ff5252"), "the next face, before Ready: " + problem.color)
            mouseClick(child(page, "buttonStart"))
            compare(page.calState, 2)
            verify(Qt.colorEqual(problem.color, "#ff5252"), "a wrong face while gathering is red")
        }

        function test_calibrationChartsAsTheLivePage_data() {
            return [
                { tag: "accelerometer", page: "acc", names: ["Acc_X", "Acc_Y", "Acc_Z"],
                  label: "Acceleration", unit: "m/s²" },
                { tag: "gyroscope", page: "gyro", names: ["Gyro_X", "Gyro_Y", "Gyro_Z"],
                  label: "Angular rate", unit: "°/s" }
            ]
        }

        function test_calibrationChartsAsTheLivePage(data) {
            var page = makePage(data.page === "acc" ? accComponent : gyroComponent)
            var plot = child(page, "plotItem")
            compare(plot.signalNames, data.names)
            compare(plot.valueLabel, data.label)
            compare(plot.unit, data.unit)
        }

        function test_stageSignalDuringPromptAdvances() {
            var page = makePage(accComponent)
            mouseClick(child(page, "buttonStart"))
            compare(page.calState, 1)
            backEnd.accCalStageFinished()
            compare(page.calState, 2)
            compare(child(page, "buttonStart").text, "Wait")
        }

        function test_qualityText_data() {
            return [
                { tag: "whole", quality: 87, expected: "Calibration Finished! Quality:87/100" },
                { tag: "fraction", quality: 55.5, expected: "Calibration Finished! Quality:55.5/100" },
                { tag: "zero", quality: 0, expected: "Calibration Finished! Quality:0/100" }
            ]
        }

        function test_qualityText(data) {
            compare(makePage(accComponent).qualityText(data.quality), data.expected)
        }

        function test_hintFadesInThenOutAfterThreeSeconds() {
            var page = makePage(gyroComponent)
            var rect = child(page, "hintRect")
            compare(rect.opacity, 0)
            mouseClick(child(page, "buttonStart"))
            // Generous bounds: the animation driver lags on a loaded machine
            // (sanitized builds), and the hint stays 3 s at full opacity.
            tryCompare(rect, "opacity", 0.7, 5000)
            tryCompare(child(page, "resetTimer"), "running", true, 5000)
            compare(child(page, "resetTimer").interval, 3000)
            tryCompare(rect, "opacity", 0, 15000)
        }

        function test_gyroscopeRun() {
            var page = makePage(gyroComponent)
            var start = child(page, "buttonStart")
            var back = child(page, "buttonBack")
            var hint = child(page, "hintText")

            mouseClick(start)
            compare(page.calState, 1)
            compare(start.text, "Ready")
            compare(back.enabled, false)
            compare(hint.text, "Keep device in completly steady state and click Ready.")
            compare(backEnd.callCount("gyroCalButton"), 0)

            mouseClick(start)
            compare(page.calState, 2)
            compare(hint.text, "Wait for calibration to finish.")
            compare(start.text, "Wait")
            compare(start.enabled, false)
            compare(child(page, "loading").visible, true)
            compare(backEnd.callCount("gyroCalButton"), 1)

            backEnd.gyroCalFinished(92.25)
            compare(page.calState, 0)
            compare(start.text, "Start")
            compare(start.enabled, true)
            compare(back.enabled, true)
            compare(child(page, "loading").visible, false)
            compare(hint.text, "Calibration Finished! Quality:92.25/100")
        }

        function test_magnetometerStartAndFinish() {
            var page = makePage(magComponent)
            var start = child(page, "buttonStart")
            var back = child(page, "buttonBack")
            // Both series were handed over once, at creation.
            compare(backEnd.callCount("setMagSctr3DSeries"), 1)
            compare(backEnd.callCount("setMagSctr3DSeries2"), 1)
            verify(backEnd.lastArguments("setMagSctr3DSeries")[0] !== backEnd.lastArguments("setMagSctr3DSeries2")[0])

            mouseClick(start)
            compare(page.calState, 1)
            compare(start.text, "Finish")
            compare(start.enabled, true)
            compare(back.enabled, false)
            compare(child(page, "hintText").text, "Rotate Along All Axis. Until Sphere is Complete")
            compare(backEnd.callCount("magCalButton"), 1)

            mouseClick(start)
            compare(page.calState, 0)
            compare(start.text, "Start")
            compare(back.enabled, true)
            compare(backEnd.callCount("magCalButton"), 2)

            backEnd.magCalFinished(64)
            compare(child(page, "hintText").text, "Calibration Finished! Quality:64/100")
        }

        // The banner reads over the progress that turns beneath it: nothing of
        // the indicator shows through untinted.
        function test_bannerTintsTheProgressBeneathIt() {
            var page = makePage(gyroComponent)
            mouseClick(child(page, "buttonStart"))
            mouseClick(child(page, "buttonStart"))
            var rect = child(page, "hintRect")
            var loading = child(page, "loading")
            compare(loading.visible, true)
            tryCompare(rect, "opacity", 0.7, 5000)
            // A blank banner, so that only the indicator's own ink lies under it.
            child(page, "hintText").text = ""
            waitForRendering(page)
            var image = grabImage(page)
            var bare = 0
            var tinted = 0
            for (var y = Math.max(rect.y, loading.y); y < Math.min(rect.y + rect.height, loading.y + loading.height); ++y) {
                for (var x = loading.x; x < loading.x + loading.width; ++x) {
                    var r = image.red(x, y), g = image.green(x, y), b = image.blue(x, y)
                    if ((r < 50 && g < 50 && b < 50) || (b > 200 && r < 60 && g < 60))
                        ++bare
                    else if (r < 40 && g > 90 && g < 140)
                        ++tinted
                }
            }
            verify(tinted > 0, "the percentage is drawn beneath the banner")
            compare(bare, 0, "indicator pixels above the banner")
        }

        // The question of a poor result covers the whole page, banner included.
        function test_questionCoversTheBanner() {
            var page = makePage(gyroComponent)
            mouseClick(child(page, "buttonStart"))
            tryCompare(child(page, "hintRect"), "opacity", 0.7, 5000)
            backEnd.calibrationNeedsConfirmation("gyroscope", 10)
            waitForRendering(page)
            var image = grabImage(page)
            // The banner's own colour, 0.7 of #11aabb over the chart, is gone at the left edge.
            var y = page.height / 2
            verify(image.green(4, y) < 100, "banner showing: " + image.pixel(4, y))
        }

        function test_finishedSignalOfOtherSensorIsIgnored() {
            var page = makePage(gyroComponent)
            mouseClick(child(page, "buttonStart"))
            backEnd.accCalFinished(10)
            backEnd.magCalFinished(10)
            compare(page.calState, 1)
            compare(child(page, "hintText").text, "Keep device in completly steady state and click Ready.")
        }

        function test_poorResultIsWrittenOnlyWhenTheUserSaysSo_data() {
            return [
                { tag: "accelerometer", component: accComponent, sensor: "accelerometer", other: "gyroscope" },
                { tag: "gyroscope", component: gyroComponent, sensor: "gyroscope", other: "magnetometer" },
                { tag: "magnetometer", component: magComponent, sensor: "magnetometer", other: "accelerometer" }
            ]
        }

        function test_poorResultIsWrittenOnlyWhenTheUserSaysSo(data) {
            var page = makePage(data.component)
            var overlay = child(page, "confirmOverlay")
            compare(overlay.visible, false)
            backEnd.calibrationNeedsConfirmation(data.other, 10)
            compare(overlay.visible, false, "another sensor's question is not asked here")

            backEnd.calibrationNeedsConfirmation(data.sensor, 12.4)
            compare(overlay.visible, true)
            verify(child(page, "confirmText").text.indexOf("12/100") >= 0, child(page, "confirmText").text)
            // Nothing else can be pressed while the question stands.
            mouseClick(child(page, "buttonStart"))
            compare(page.calState, 0)
            mouseClick(child(page, "buttonWriteAnyway"))
            compare(overlay.visible, false)
            compare(backEnd.callCount("confirmCalibrationResult"), 1)
            compare(backEnd.lastArguments("confirmCalibrationResult")[0], data.sensor)
            compare(backEnd.callCount("discardCalibrationResult"), 0)

            backEnd.calibrationNeedsConfirmation(data.sensor, 0)
            compare(overlay.visible, true)
            verify(child(page, "confirmText").text.indexOf("0/100") >= 0)
            mouseClick(child(page, "buttonDiscard"))
            compare(overlay.visible, false)
            compare(backEnd.callCount("discardCalibrationResult"), 1)
            compare(backEnd.lastArguments("discardCalibrationResult")[0], data.sensor)
            compare(backEnd.callCount("confirmCalibrationResult"), 1)

            // The run ended otherwise (the link went): the question goes with it.
            backEnd.calibrationNeedsConfirmation(data.sensor, 20)
            compare(overlay.visible, true)
            backEnd.calibrationFailed(data.sensor, "Connection lost. Calibration cancelled.")
            compare(overlay.visible, false)
            compare(child(page, "hintText").text, "Connection lost. Calibration cancelled.")
        }

        function test_livePageShowsTheOutcomeOfALeftCalibration() {
            var live = createTemporaryObject(liveComponent, testRoot)
            verify(live.page, "Page1 loads")
            var outcome = child(live.page, "calibrationOutcome")
            compare(outcome.visible, false)

            // While a calibration page is open, it shows its own outcome.
            live.stack.push(coverComponent)
            tryCompare(live.stack, "busy", false)
            backEnd.calibrationFailed("gyroscope", "Calibration failed: no valid result. Previous calibration kept.")
            compare(outcome.visible, false)

            // Left with Back: the restore's outcome arrives afterwards, on the live page.
            live.stack.pop()
            backEnd.calibrationFailed("gyroscope", "Calibration cancelled. Previous calibration kept.")
            compare(outcome.visible, true)
            compare(child(live.page, "calibrationOutcomeLabel").text, "Calibration cancelled. Previous calibration kept.")
            backEnd.calibrationFailed("magnetometer", "Calibration cancelled. The module did not take back its previous calibration; it holds 0, 0, 0.")
            compare(child(live.page, "calibrationOutcomeLabel").text, "Calibration cancelled. The module did not take back its previous calibration; it holds 0, 0, 0.")
            mouseClick(child(live.page, "calibrationOutcomeDismiss"))
            compare(outcome.visible, false)
            backEnd.calibrationNotice("gyroscope", "The gyroscope calibration saved at 10:11:12 was restored.")
            compare(outcome.visible, true)
            compare(child(live.page, "calibrationOutcomeLabel").text, "The gyroscope calibration saved at 10:11:12 was restored.")
        }

        // The offer names the port and every parameter: on a small window its
        // text wraps inside the banner, beside its buttons, and is shown whole.
        function test_restoreOfferTextIsShownWhole_data() {
            return [{ tag: "1024x768", width: 1024, height: 768 },
                    { tag: "800x600", width: 800, height: 600 }]
        }
        function test_restoreOfferTextIsShownWhole(data) {
            var live = createTemporaryObject(liveComponent, testRoot,
                                             { width: data.width, height: data.height })
            verify(live.page, "Page1 loads")
            // A port name can be one long word (by-id names join their parts with '_').
            backEnd.setRestoreOffers([{ sensor: "magnetometer",
                    port: "/dev/serial/by-id/usb_Velmar_IMU_Module_0123456789ABCDEF_0123456789ABCDEF_if00_port0",
                    text: "A magnetometer calibration on /dev/serial/by-id/usb_Velmar_IMU_Module_0123456789ABCDEF_0123456789ABCDEF_if00_port0 was cut off. Restore the parameters the module held at 2026-12-08 10:11:12 (0.0512345, 0.0234567, -0.0312345, 2.01234, 0.00123456, -0.00234567, 0.00345678, 2.10987, 0.00456789, -0.00567891, 0.00678912, 1.98765)?" },
                    { sensor: "gyroscope", port: "/dev/ttyUSB0",
                    text: "A gyroscope calibration on /dev/ttyUSB0 was cut off. Restore the parameters the module held at 2026-12-08 10:11:12 (0.5, -0.5, 0.25)?" },
                    { sensor: "accelerometer", port: "/dev/ttyUSB0",
                    text: "An accelerometer calibration on /dev/ttyUSB0 was cut off. Restore the parameters the module held at 2026-12-08 10:11:12 (0.0512345, 0.0234567, -0.0312345, 1.01234, 0.00123456, -0.00234567, 0.00345678, 0.990987, 0.00456789, -0.00567891, 0.00678912, 1.00765)?" }])
            var offer = child(live.page, "restoreOffer")
            verify(offer.visible)
            waitForRendering(live.page)
            var notes = child(live.page, "calibrationNotes")
            for (var i = 0; i < notes.children.length; ++i) {
                var banner = notes.children[i]
                if (banner.objectName !== "restoreOffer")
                    continue
                var label = child(banner, "restoreOfferLabel")
                var restore = child(banner, "restoreOfferRestore")
                verify(label.width > 0, "the label has room: " + label.width)
                // Nothing runs past the label's right edge or under the buttons...
                verify(label.contentWidth <= label.width + 0.5,
                       "text " + label.contentWidth + " wide in a label " + label.width + " wide")
                var labelRight = label.mapToItem(banner, label.width, 0).x
                var buttonsLeft = restore.mapToItem(banner, 0, 0).x
                verify(labelRight <= buttonsLeft + 0.5, "label ends at " + labelRight + ", buttons start at " + buttonsLeft)
                // ...nor past the banner's top or bottom...
                var top = label.mapToItem(banner, 0, 0).y
                verify(top >= 0 && top + label.contentHeight <= banner.height + 0.5,
                       "text from " + top + " to " + (top + label.contentHeight) + " in a banner " + banner.height + " high")
                // ...nor under the status strip at the bottom of the page.
                var bottom = banner.mapToItem(live.page, 0, banner.height).y
                var strip = live.page.footer
                var limit = strip ? strip.mapToItem(live.page, 0, 0).y : live.page.height
                verify(bottom <= limit, "banner ends at " + bottom + ", the strip starts at " + limit)
                compare(label.truncated, false)
            }
        }

        function test_livePageOffersTheRestoreOfACutOffRun() {
            var live = createTemporaryObject(liveComponent, testRoot)
            verify(live.page, "Page1 loads")
            compare(findChild(live.page, "restoreOffer"), null)
            backEnd.setRestoreOffers([{ sensor: "magnetometer", port: "/dev/ttyUSB0",
                    text: "A magnetometer calibration on /dev/ttyUSB0 was cut off. Restore the parameters the module held at 2026-12-08 10:11:12 (0.05, 0.02)?" }])
            var offer = child(live.page, "restoreOffer")
            verify(offer.visible)
            compare(child(offer, "restoreOfferLabel").text.indexOf("2026-12-08 10:11:12") > 0, true)
            mouseClick(child(offer, "restoreOfferRestore"))
            compare(backEnd.callCount("restoreCalibration"), 1)
            compare(backEnd.lastArguments("restoreCalibration")[0], "magnetometer")
            mouseClick(child(offer, "restoreOfferDismiss"))
            compare(backEnd.callCount("dismissCalibrationRestore"), 1)
            compare(backEnd.lastArguments("dismissCalibrationRestore")[0], "magnetometer")
            backEnd.setRestoreOffers([])
            tryVerify(function() { return findChild(live.page, "restoreOffer") === null })
        }
    }
}
