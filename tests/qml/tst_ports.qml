// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtTest 1.12

// The live page's port box and its status strip: a list that keeps the pick,
// typed paths, a connection the application made by itself, --connect.
Item {
    id: testRoot
    width: 1024
    height: 720

    Component {
        id: pageComponent
        Loader { source: "qrc:/Page1.qml"; width: 1024; height: 720 }
    }

    TestCase {
        name: "Ports"
        when: windowShown

        property var connection: backEnd.connection

        function init() {
            backEnd.reset()
        }

        function makePage() {
            var loader = createTemporaryObject(pageComponent, testRoot)
            verify(loader.item, "Page1 loads")
            return loader.item
        }

        function child(page, name) {
            var item = findChild(page, name)
            verify(item, name + " exists")
            return item
        }

        function test_stripSitsAlongTheBottom() {
            var page = makePage()
            var strip = child(page, "statusStrip")
            verify(strip.visible)
            var bottom = strip.mapToItem(page, 0, strip.height).y
            compare(bottom, page.height)
            // The charts end above it.
            var charts = child(page, "magCustomPlot")
            verify(charts.mapToItem(page, 0, charts.height).y <= strip.mapToItem(page, 0, 0).y)
        }

        function test_pickIsKeptWhenTheListChanges() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            combo.currentIndex = 1
            combo.activated(1)
            compare(combo.currentText, "ttyFAKE1")

            // A device comes: the list grows in front of the pick, which stays.
            backEnd.setPorts(["ttyNEW", "ttyFAKE0: First", "ttyFAKE1"])
            connection.refresh()
            compare(combo.count, 3)
            compare(combo.currentText, "ttyFAKE1")
            // It goes: the first entry is shown; it comes back: picked again.
            backEnd.setPorts(["ttyNEW"])
            connection.refresh()
            compare(combo.currentText, "ttyNEW")
            backEnd.setPorts(["ttyNEW", "ttyFAKE1"])
            connection.refresh()
            compare(combo.currentText, "ttyFAKE1")

            mouseClick(child(page, "connectButton"))
            compare(backEnd.lastArguments("connectClicked")[0], 1)
        }

        function test_typedPathIsListedPickedAndConnected() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            verify(combo.editable)
            combo.editText = "/dev/ttyTYPED"
            mouseClick(child(page, "connectButton"))
            compare(connection.usedPaths(), ["/dev/ttyTYPED"])
            compare(combo.currentText, "/dev/ttyTYPED")
            compare(backEnd.callCount("connectClicked"), 1)
            compare(backEnd.lastArguments("connectClicked")[0], 2)
            compare(child(page, "connectButton").text, "Disconnect")
        }

        function test_typedPathTakenWithEnter() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            combo.contentItem.forceActiveFocus()
            combo.editText = "/dev/ttyENTER"
            keyClick(Qt.Key_Return)
            compare(connection.usedPaths(), ["/dev/ttyENTER"])
            compare(combo.currentText, "/dev/ttyENTER")
            compare(backEnd.callCount("connectClicked"), 0, "Enter only picks it")
        }

        function test_unknownTypedTextConnectsNothing() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            combo.editText = "no such thing"
            mouseClick(child(page, "connectButton"))
            compare(backEnd.callCount("connectClicked"), 0)
            compare(child(page, "connectButton").text, "Connect")
        }

        function test_pickedEntryIsNotTakenForTypedText() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            combo.currentIndex = 1
            mouseClick(child(page, "connectButton"))
            compare(connection.usedPaths(), [])
            compare(backEnd.lastArguments("connectClicked")[0], 1)
        }

        function test_reconnectionShowsTheControlsConnected() {
            var page = makePage()
            var button = child(page, "connectButton")
            mouseClick(button)
            backEnd.connectionError("ttyFAKE0", "The serial device hung up")
            compare(button.text, "Connect")
            verify(child(page, "statusBanner").visible)

            // While the module that came back is read, Connect waits.
            connection.checkingModule = true
            compare(button.enabled, false)
            connection.checkingModule = false
            compare(button.enabled, true)

            connection.reconnected("ttyFAKE0")
            compare(button.text, "Disconnect")
            compare(child(page, "serialComboBox").enabled, false)
            compare(child(page, "resetButton").visible, true)
            compare(child(page, "statusBanner").visible, false)
            // The page's next click disconnects, as after any connect.
            mouseClick(button)
            compare(button.text, "Connect")
            compare(backEnd.callCount("connectClicked"), 2)
        }

        function test_connectOnStartPressesConnectOnce() {
            connection.setConnectOnStart(true)
            var page = makePage()
            tryCompare(child(page, "connectButton"), "text", "Disconnect")
            compare(backEnd.callCount("connectClicked"), 1)
            compare(backEnd.lastArguments("connectClicked")[0], 0)
            // Taken: a page made later does not connect again.
            compare(connection.takeConnectOnStart(), false)
        }

        // The list names what the system knows of each port under its entry;
        // a path has its path only.
        function test_listShowsWhatTheSystemKnowsOfEachPort() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            connection.setPortDetails(["FTDI · product 0403:6001 · serial A10K3XQ", ""])
            combo.popup.open()
            tryCompare(combo.popup, "opened", true)
            var list = combo.popup.contentItem
            tryVerify(function () { return list.itemAtIndex && list.itemAtIndex(1) !== null })
            var first = list.itemAtIndex(0)
            var detail = findChild(first, "portDetail")
            verify(detail)
            compare(detail.text, "FTDI · product 0403:6001 · serial A10K3XQ")
            compare(detail.visible, true)
            compare(findChild(list.itemAtIndex(1), "portDetail").visible, false)
            verify(combo.popup.width >= 460, "wide enough for the details: " + combo.popup.width)
            combo.popup.close()
        }

        function test_preselectedPortIsShownFirst() {
            connection.selectIndex(1)
            var page = makePage()
            compare(child(page, "serialComboBox").currentText, "ttyFAKE1")
        }
    }
}
