// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtTest 1.12

// The first screen's keys and exports, and the help overlay.
Item {
    id: testRoot
    width: 1024
    height: 720

    Component {
        id: dataPageComponent
        Loader { source: "qrc:/DataPage.qml"; width: 1024; height: 720 }
    }
    Component {
        id: helpComponent
        Loader { source: "qrc:/components/HelpOverlay.qml"; anchors.fill: parent }
    }
    Component {
        id: textFieldComponent
        TextField { width: 200 }
    }
    Component {
        id: stackComponent
        StackView { initialItem: Item {} }
    }
    Component {
        id: imageComponent
        Image { asynchronous: false; cache: false }
    }

    TestCase {
        name: "LiveControls"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        function makePage() {
            var loader = createTemporaryObject(dataPageComponent, testRoot)
            verify(loader.item, "DataPage loads")
            return loader.item
        }

        function child(item, name) {
            var found = findChild(item, name)
            verify(found, name + " exists")
            return found
        }

        function toolbarOf(page) {
            return child(page, "firstPage").chartToolbar
        }

        function test_spacePausesAndResumesEveryChart() {
            var page = makePage()
            var toolbar = toolbarOf(page)
            var mag = child(page, "magCustomPlot")
            keyClick(Qt.Key_Space)
            compare(toolbar.paused, true)
            compare(mag.paused, true)
            compare(child(page, "pauseButton").text, "Resume")
            keyClick(Qt.Key_Space)
            compare(toolbar.paused, false)
            compare(mag.paused, false)
        }

        function test_spaceInATextFieldTypesASpace() {
            var page = makePage()
            var field = createTemporaryObject(textFieldComponent, testRoot)
            field.forceActiveFocus()
            keyClick(Qt.Key_A)
            keyClick(Qt.Key_Space)
            compare(field.text, "a ")
            compare(toolbarOf(page).paused, false)
        }

        function test_ctrlDigitsSwitchPagesAndSpaceStaysOnTheLivePage() {
            var page = makePage()
            var view = child(page, "swipeView")
            keyClick(Qt.Key_2, Qt.ControlModifier)
            compare(view.currentIndex, 1)
            keyClick(Qt.Key_Space)
            compare(toolbarOf(page).paused, false, "no pausing charts that cannot be seen")
            keyClick(Qt.Key_1, Qt.ControlModifier)
            compare(view.currentIndex, 0)
        }

        function test_ctrlKConnectsAndF5RefreshesThePorts() {
            var page = makePage()
            var live = child(page, "firstPage")
            keyClick(Qt.Key_K, Qt.ControlModifier)
            compare(backEnd.callCount("connectClicked"), 1)
            compare(child(live, "connectButton").text, "Disconnect")
            // While connected the list stands still.
            backEnd.setPorts(["a", "b", "c"])
            keyClick(Qt.Key_F5)
            compare(child(live, "serialComboBox").count, 2)
            keyClick(Qt.Key_K, Qt.ControlModifier)
            compare(backEnd.callCount("connectClicked"), 2)
            compare(child(live, "connectButton").text, "Connect")
            keyClick(Qt.Key_F5)
            compare(child(live, "serialComboBox").count, 3)
        }

        function test_keysRestUnderACalibrationPage() {
            var page = makePage()
            var stack = createTemporaryObject(stackComponent, testRoot)
            page.stackView = stack
            stack.push(Qt.createQmlObject("import QtQuick 2.12; Item {}", stack), StackView.Immediate)
            compare(stack.depth, 2)
            keyClick(Qt.Key_Space)
            keyClick(Qt.Key_K, Qt.ControlModifier)
            keyClick(Qt.Key_2, Qt.ControlModifier)
            compare(toolbarOf(page).paused, false)
            compare(backEnd.callCount("connectClicked"), 0)
            compare(child(page, "swipeView").currentIndex, 0)
            stack.pop(StackView.Immediate)
            keyClick(Qt.Key_Space)
            compare(toolbarOf(page).paused, true)
        }

        function test_dragOnAPausedChartPansWithoutSwiping() {
            var page = makePage()
            var view = child(page, "swipeView")
            var euler = child(page, "eulerCustomPlot")
            backEnd.setList("euler", [1, 2, 3])
            keyClick(Qt.Key_Space)
            mouseDrag(euler, euler.width * 0.8, euler.height / 2, -euler.width * 0.6, 0)
            compare(euler.zoomed, true, "the drag moved the view")
            compare(view.currentIndex, 0)
            verify(!view.contentItem.moving, "the page did not start to swipe")
        }

        function test_ctrlEExportsAllFiveChartsAsPngAndCsv() {
            var page = makePage()
            backEnd.setList("euler", [1, 2, 3])
            backEnd.setList("acc", [0.5, -9.8, 0.1])
            keyClick(Qt.Key_E, Qt.ControlModifier)
            var status = child(page, "chartStatus").text
            var folder = backEnd.viewSettings.exportFolder
            compare(status, "Saved 10 files to " + folder)
        }

        function test_oneChartExportsWhatItShows() {
            var page = makePage()
            backEnd.setList("acc", [0.5, -9.8, 0.1])
            var toolbar = toolbarOf(page)
            var paths = toolbar.exportCharts([2], true, true)
            compare(paths.length, 2)
            verify(paths[0].indexOf(backEnd.viewSettings.exportFolder + "/velmar-") === 0, paths[0])
            verify(/-accelerometer\.png$/.test(paths[0]), paths[0])
            verify(/-accelerometer\.csv$/.test(paths[1]), paths[1])
            compare(child(page, "chartStatus").text,
                    "Saved 2 files to " + backEnd.viewSettings.exportFolder)
            var image = createTemporaryObject(imageComponent, testRoot, { source: "file://" + paths[0] })
            tryCompare(image, "status", Image.Ready)
            var acc = child(page, "accCustomPlot")
            compare(image.sourceSize.width, Math.floor(acc.width))
            compare(image.sourceSize.height, Math.floor(acc.height))
            // A second export does not overwrite the first.
            var again = toolbar.exportCharts([2], true, false)
            verify(again[0] !== paths[0])
        }

        function test_exportToAFolderThatCannotBeMadeSaysSo() {
            var page = makePage()
            backEnd.viewSettings.exportFolder = "/proc/velmar-cannot-be-made"
            var paths = toolbarOf(page).exportAll()
            compare(paths.length, 0)
            var status = child(page, "chartStatus").text
            verify(status.indexOf("Nothing exported") === 0, status)
            verify(status.indexOf("/proc/velmar-cannot-be-made") > 0, status)
        }

        function test_f1ShowsEveryShortcut() {
            var help = createTemporaryObject(helpComponent, testRoot).item
            verify(help)
            compare(help.opened, false)
            keyClick(Qt.Key_F1)
            tryCompare(help, "opened", true)
            var popup = findChild(help, "helpOverlay")
            var lines = findChild(popup.contentItem, "helpLines")
            verify(lines)
            verify(lines.count >= 12, "lines: " + lines.count)
            var keys = []
            for (var i = 0; i < lines.count; ++i)
                keys.push(findChild(lines.itemAt(i), "helpKeys").text)
            var expected = ["F1", "Ctrl+K", "F5", "Space", "Ctrl+E", "Ctrl+1", "Ctrl+2", "Esc",
                            "Wheel", "Ctrl+Wheel", "Drag", "Double-click"]
            for (i = 0; i < expected.length; ++i)
                verify(keys.indexOf(expected[i]) >= 0, expected[i] + " in " + keys)
            keyClick(Qt.Key_F1)
            tryCompare(help, "opened", false)
            tryCompare(popup, "visible", false)
            keyClick(Qt.Key_F1)
            tryCompare(help, "opened", true)
            keyClick(Qt.Key_Escape)
            tryCompare(help, "opened", false)
        }
    }
}
