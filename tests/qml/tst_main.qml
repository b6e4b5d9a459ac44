// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Window 2.12
import QtTest 1.12

// The main document: splash, the hidden then shown main window, navigation to
// the calibration pages and back; plus the small shared documents.
Item {
    id: testRoot
    width: 400
    height: 300

    Component {
        id: mainComponent
        Loader { source: "qrc:/main.qml" }
    }
    Component {
        id: indicatorComponent
        Loader { source: "qrc:/LoadingIndicator.qml"; width: 200; height: 200 }
    }
    Component {
        id: ahrsComponent
        Loader { source: "qrc:/AhrsBox.qml" }
    }

    SignalSpy { id: visibleSpy; signalName: "visibleChanged" }

    TestCase {
        name: "Main"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        // main.qml's root is a QtObject, which a Loader cannot hold.
        function createMain() {
            var component = Qt.createComponent("qrc:/main.qml")
            compare(component.status, Component.Ready, component.errorString())
            var root = createTemporaryObject(component, testRoot)
            verify(root)
            return root
        }

        function test_mainWindowShownOnceAfterSplash() {
            var root = createMain()
            // The splash completed at once, so the window exists, still hidden.
            verify(root.splashWindow)
            verify(root.appWindow.active)
            var window = root.appWindow.item
            verify(window)
            compare(window.visible, false)
            compare(window.title, "Velmar IMU")
            compare(window.width, 1024)
            compare(window.height, 768)
            var splash = root.splashWindow.item
            compare(splash.timeoutInterval, 3000)
            compare(splash.visible, true)
            // Sized from the screen height alone, centred.
            fuzzyCompare(splash.width, splash.screen.height / 9 * 6, 1)
            fuzzyCompare(splash.height, splash.screen.height / 16 * 6, 1)
            fuzzyCompare(splash.x, (splash.screen.width - splash.width) / 2, 1)

            visibleSpy.target = window
            visibleSpy.clear()
            tryCompare(window, "visible", true, 10000)
            compare(root.splashWindow, null)
            wait(200)
            compare(visibleSpy.count, 1)
        }

        function test_ctrlRRecordsFromEveryPage() {
            var root = createMain()
            var window = root.appWindow.item
            tryCompare(window, "visible", true, 10000)
            var shortcut = findChild(window, "recordShortcut") || findChild(window.contentItem, "recordShortcut")
            verify(shortcut, "the shortcut exists")
            compare(shortcut.sequence, "Ctrl+R")
            compare(shortcut.context, Qt.WindowShortcut)
            shortcut.activated()
            compare(backEnd.recording.toggles(), 1)
            compare(backEnd.recording.recording, true)
            shortcut.activated()
            compare(backEnd.recording.recording, false)
        }

        function test_calibrationNavigation() {
            var root = createMain()
            var window = root.appWindow.item
            tryCompare(window, "visible", true, 10000)
            var stack = findChild(window.contentItem, "mainStackView")
            var dataPage = findChild(window.contentItem, "dataPage")
            var accLoader = findChild(window.contentItem, "accLoader")
            verify(stack && dataPage && accLoader)
            compare(stack.depth, 1)

            dataPage.accClicked()
            compare(accLoader.active, true)
            compare(stack.depth, 2)
            compare(stack.currentItem, accLoader)
            compare(backEnd.callCount("requestAccOnly"), 1)

            // A second click while the page is open changes nothing.
            dataPage.accClicked()
            compare(stack.depth, 2)
            compare(backEnd.callCount("requestAccOnly"), 1)

            var page = accLoader.item
            // Another window than the test's: press the buttons directly.
            findChild(page, "buttonStart").clicked()
            compare(page.calState, 1)
            backEnd.accCalStageFinished()
            backEnd.accCalStageFinished()
            compare(page.calState, 3)
            // Back is disabled while running; bring the page home first.
            compare(findChild(page, "buttonBack").enabled, false)
            for (var i = 0; i < 10; ++i)
                backEnd.accCalStageFinished()
            compare(page.calState, 0)

            tryCompare(stack, "busy", false, 2000)
            findChild(page, "buttonBack").clicked()
            compare(stack.depth, 1)
            compare(accLoader.active, false)
            compare(backEnd.callCount("requestChartData"), 1)

            // A fresh page in its first state, and the request again.
            tryCompare(stack, "busy", false, 2000)
            dataPage.accClicked()
            compare(stack.depth, 2)
            verify(accLoader.item !== null)
            compare(accLoader.item.calState, 0)
            compare(findChild(accLoader.item, "buttonStart").text, "Start")
            compare(backEnd.callCount("requestAccOnly"), 2)

            tryCompare(stack, "busy", false, 2000)
            findChild(accLoader.item, "buttonBack").clicked()
            tryCompare(stack, "busy", false, 2000)

            dataPage.gyroClicked()
            compare(backEnd.callCount("requestGyroOnly"), 1)
            compare(stack.depth, 2)
            tryCompare(stack, "busy", false, 2000)
            var gyroLoader = findChild(window.contentItem, "gyroLoader")
            findChild(gyroLoader.item, "buttonBack").clicked()
            compare(stack.depth, 1)
            tryCompare(stack, "busy", false, 2000)

            dataPage.magClicked()
            compare(backEnd.callCount("requestMagOnly"), 1)
            compare(backEnd.callCount("setMagSctr3DSeries"), 1)
            var magLoader = findChild(window.contentItem, "magLoader")
            tryCompare(stack, "busy", false, 2000)
            findChild(magLoader.item, "buttonBack").clicked()
            tryCompare(stack, "busy", false, 2000)
            dataPage.magClicked()
            compare(backEnd.callCount("setMagSctr3DSeries"), 2, "each visit hands the series over")
            compare(backEnd.callCount("requestChartData"), 4)
        }

        function test_windowComesBackAsItWasClosed() {
            backEnd.viewSettings.storeWindow(Qt.rect(30, 40, 1100, 700), false)
            var root = createMain()
            var window = root.appWindow.item
            // Sized before it first shows.
            compare(window.visible, false)
            compare(window.width, 1100)
            compare(window.height, 700)
            tryCompare(window, "visible", true, 10000)
            window.width = 1000
            tryCompare(window, "width", 1000)
            window.close()
            tryCompare(window, "visible", false)
            var stored = backEnd.viewSettings.storedWindowGeometry()
            compare(stored.width, 1000)
            compare(stored.height, 700)
            compare(backEnd.viewSettings.storedWindowMaximized(), false)
        }

        function test_helpOverlayIsPartOfTheMainWindow() {
            var root = createMain()
            var window = root.appWindow.item
            var host = findChild(window.contentItem, "helpOverlayHost")
            verify(host)
            compare(host.opened, false)
            host.toggle()
            tryCompare(host, "opened", true)
            host.toggle()
            tryCompare(host, "opened", false)
        }

        function test_indicatorShowsRoundedPercent_data() {
            return [
                { tag: "rounds up", value: 37.6, expected: "38%" },
                { tag: "half goes up", value: 12.5, expected: "13%" },
                { tag: "rounds down", value: 37.4, expected: "37%" },
                { tag: "zero", value: 0, expected: "0%" },
                { tag: "full", value: 100, expected: "100%" }
            ]
        }

        function test_indicatorShowsRoundedPercent(data) {
            var loader = createTemporaryObject(indicatorComponent, testRoot)
            backEnd.setProgress(data.value)
            compare(findChild(loader.item, "progressText").text, data.expected)
        }

        function test_indicatorPauseStopsEveryDot() {
            var indicator = createTemporaryObject(indicatorComponent, testRoot).item
            indicator.playing = false
            // Let the last swing end, then the dots stay where they are.
            wait(700)
            var dots = []
            for (var i = 0; i < indicator.children.length; ++i) {
                if (indicator.children[i].angularPos !== undefined)
                    dots.push(indicator.children[i])
            }
            compare(dots.length, 5)
            var before = dots.map(function (d) { return d.angularPos })
            wait(700)
            compare(dots.map(function (d) { return d.angularPos }), before)
            indicator.playing = true
            tryVerify(function () { return dots[0].angularPos !== before[0] }, 3000)
        }

        function test_azimuthAndElevation() {
            var box = createTemporaryObject(ahrsComponent, testRoot).item
            compare(box.azimuth(Qt.vector3d(0, 0, 0)), 0)
            compare(box.elevation(Qt.vector3d(0, 0, 0)), 0)
            fuzzyCompare(box.azimuth(Qt.vector3d(1, 1, 0)), 45, 1e-9)
            fuzzyCompare(box.azimuth(Qt.vector3d(-1, 0, 0)), 180, 1e-9)
            fuzzyCompare(box.elevation(Qt.vector3d(1, 0, -1)), 45, 1e-9)
            fuzzyCompare(box.elevation(Qt.vector3d(0, 0, 5)), -90, 1e-9)
            backEnd.setMagVector(Qt.vector3d(0, 2, 0))
            fuzzyCompare(box.aAzm, 90, 1e-9)
        }

        function test_unplacedDocumentsLoad() {
            var chart = Qt.createComponent("qrc:/LineChart.qml")
            compare(chart.status, Component.Ready, chart.errorString())
            var lineChart = createTemporaryObject(chart, testRoot, { width: 200, height: 100 })
            verify(lineChart)
            compare(lineChart.clip, true)

            var buttonComponent = Qt.createComponent("qrc:/CustomToolButton.qml")
            compare(buttonComponent.status, Component.Ready, buttonComponent.errorString())
            var button = createTemporaryObject(buttonComponent, testRoot,
                                               { height: 40, extraText: "Save", symbol: "\uf0c7" })
            compare(button.symbol, "\uf0c7")
            compare(button.extraText, "Save")
        }

        function test_iconFontsLoad() {
            var item = Qt.createQmlObject('import QtQuick 2.12; import "qrc:/"; Item { '
                                          + 'property string icons: FontAwesome.icons; '
                                          + 'property string brands: FontAwesome.brands; '
                                          + 'property int solid: FontAwesome.fontAwesomeSolid.status }',
                                          testRoot)
            tryCompare(item, "icons", "Font Awesome 5 Free")
            compare(item.brands, "Font Awesome 5 Brands")
            compare(item.solid, FontLoader.Ready)
            item.destroy()
        }
    }
}
