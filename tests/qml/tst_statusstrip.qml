// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Window 2.12
import QtTest 1.12

// The status strip of the live page against the stand-in for backEnd.connection.
Item {
    id: testRoot
    width: 1024
    height: 200
    // The window the tests run in, to minimise.
    readonly property var testWindow: Window.window

    Component {
        id: stripComponent
        Loader { source: "qrc:/components/StatusStrip.qml"; width: 1024 }
    }

    TestCase {
        name: "StatusStrip"
        when: windowShown

        property var connection: backEnd.connection

        function init() {
            backEnd.reset()
        }

        function makeStrip() {
            var loader = createTemporaryObject(stripComponent, testRoot)
            verify(loader.item, "StatusStrip loads")
            return loader.item
        }

        function child(strip, name) {
            var item = findChild(strip, name)
            verify(item, name + " exists")
            return item
        }

        function openLink() {
            connection.linkOpen = true
            connection.port = "/dev/ttyUSB0"
            connection.identityText = "ID 0x5A · HW 1442 · SW 210"
            connection.rangesText = "Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2"
            connection.framesPerSecond = 50
            connection.bytesPerSecond = 1850
            connection.statusMessage = "none"
        }

        function test_disconnectedSaysSoAndShowsNoFigures() {
            var strip = makeStrip()
            compare(child(strip, "stripPort").text, "Not connected")
            var hidden = ["stripIdentity", "stripRanges", "stripRates", "stripDropped",
                          "stripStatus", "stripWarning", "stripNotice"]
            for (var i = 0; i < hidden.length; ++i)
                compare(child(strip, hidden[i]).visible, false, hidden[i])
            // The reconnect setting is there to change at any time.
            verify(child(strip, "stripAutoReconnect").visible)
            verify(strip.implicitHeight > 0)
        }

        function test_figuresOfAnOpenLink() {
            var strip = makeStrip()
            openLink()
            compare(child(strip, "stripPort").text, "/dev/ttyUSB0")
            compare(child(strip, "stripIdentity").text, "ID 0x5A · HW 1442 · SW 210")
            compare(child(strip, "stripRanges").text, "Acc ±20 m/s² · Gyro ±250 °/s · Mag ±2")
            compare(child(strip, "stripRates").text, "50 frames/s · 1850 B/s")
            compare(child(strip, "stripStatus").text, "module status: none")
            var dropped = child(strip, "stripDropped")
            compare(dropped.text, "dropped since connect: 0 cut frames, 0 noise bytes")
            var calm = "" + dropped.color
            connection.cutFrames = 2
            connection.noiseBytes = 312
            compare(dropped.text, "dropped since connect: 2 cut frames, 312 noise bytes")
            verify("" + dropped.color !== calm, "drops stand out")

            // Ranges not decoded yet say so instead of staying blank.
            connection.rangesText = ""
            compare(child(strip, "stripRanges").text, "ranges not read yet")
            // Identity not read yet: nothing shown for it.
            connection.identityText = ""
            compare(child(strip, "stripIdentity").visible, false)
        }

        function test_warningShowsUntilCleared() {
            var strip = makeStrip()
            openLink()
            var warning = child(strip, "stripWarning")
            var before = strip.implicitHeight
            connection.warning = "No data from the module since 12:03:04 (more than a second)."
            compare(warning.visible, true)
            compare(child(strip, "stripWarningLabel").text,
                    "No data from the module since 12:03:04 (more than a second).")
            // The column lays out on the next frame.
            tryVerify(function() { return strip.implicitHeight > before }, 5000,
                      "the strip grows to show it")
            connection.warning = ""
            compare(warning.visible, false)
            tryCompare(strip, "implicitHeight", before)
        }

        function test_noticeColourAndStopWaiting() {
            var strip = makeStrip()
            var notice = child(strip, "stripNotice")
            var stop = child(strip, "stripStopWaiting")
            connection.notice = "Lost /dev/ttyUSB0. Waiting for it to come back."
            connection.noticeIsWarning = true
            connection.waitingForPort = true
            compare(notice.visible, true)
            var warningColour = "" + notice.color
            compare(stop.visible, true)
            mouseClick(stop)
            compare(connection.cancelCalls(), 1)

            connection.waitingForPort = false
            compare(stop.visible, false)
            connection.checkingModule = true
            compare(stop.visible, true, "also while the returning module is read")
            connection.checkingModule = false

            connection.notice = "Reconnected to /dev/ttyUSB0: the same module came back."
            connection.noticeIsWarning = false
            compare(child(strip, "stripNoticeLabel").text,
                    "Reconnected to /dev/ttyUSB0: the same module came back.")
            verify("" + notice.color !== warningColour, "good news looks different")
            connection.notice = ""
            compare(notice.visible, false)
        }

        function test_dismissedRowsGiveTheirHeightBack_data() {
            return [
                { tag: "warning", row: "stripWarning", dismiss: "stripWarningDismiss",
                  property: "warning", text: "No data from the module since 12:03:04 (more than a second).",
                  next: "No data from the module since 12:09:00 (more than a second)." },
                { tag: "notice", row: "stripNotice", dismiss: "stripNoticeDismiss",
                  property: "notice", text: "Lost /dev/ttyUSB0 (device removed). Press Connect.",
                  next: "There is no device at /dev/ttyUSB9." }
            ]
        }

        function test_dismissedRowsGiveTheirHeightBack(data) {
            var strip = makeStrip()
            openLink()
            connection.noticeIsWarning = true
            var before = strip.implicitHeight
            connection[data.property] = data.text
            var row = child(strip, data.row)
            compare(row.visible, true)
            tryVerify(function() { return strip.implicitHeight > before }, 5000, "the row shows")
            mouseClick(child(strip, data.dismiss))
            compare(row.visible, false, "dismissed")
            tryCompare(strip, "implicitHeight", before)
            // The same text again is not news; another is.
            connection[data.property] = data.text
            compare(row.visible, false)
            connection[data.property] = data.next
            compare(row.visible, true, "a new " + data.tag + " shows")
        }

        function test_reportingNoticeExpiresAWarningStays() {
            var strip = makeStrip()
            strip.noticeLifetimeMs = 100
            var notice = child(strip, "stripNotice")
            connection.noticeIsWarning = false
            connection.notice = "Reconnected to /dev/ttyUSB0: the same module came back."
            compare(notice.visible, true)
            tryCompare(notice, "visible", false, 5000, "good news goes by itself")

            connection.noticeIsWarning = true
            connection.notice = "Lost /dev/ttyUSB0 (device removed). Press Connect."
            compare(notice.visible, true)
            compare(child(strip, "noticeExpiry").running, false, "a warning does not expire")
            connection.noticeIsWarning = false
            connection.waitingForPort = true
            connection.notice = "Lost /dev/ttyUSB0. Waiting for it to come back."
            compare(child(strip, "noticeExpiry").running, false, "nor a wait that can be stopped")
            compare(child(strip, "stripNoticeDismiss").visible, false)
            compare(child(strip, "stripStopWaiting").visible, true)
        }

        function test_warningNotRepeatedUnderTheSameNotice() {
            var strip = makeStrip()
            openLink()
            var text = "No data from the module since 12:03:04 (more than a second)."
            connection.noticeIsWarning = true
            connection.notice = text
            connection.warning = text
            compare(child(strip, "stripNotice").visible, true)
            compare(child(strip, "stripWarning").visible, false, "said once")
            connection.notice = ""
            compare(child(strip, "stripWarning").visible, true)
            connection.linkOpen = false
            compare(child(strip, "stripWarning").visible, false, "no data is expected from a closed link")
        }

        function test_reconnectSettingFollowsTheBox() {
            var strip = makeStrip()
            var box = child(strip, "stripAutoReconnect")
            compare(box.checked, true)
            mouseClick(box)
            compare(connection.autoReconnect, false)
            connection.autoReconnect = true
            compare(box.checked, true)
        }

        function test_ratesStandStillWhileTheWindowIsMinimised() {
            var strip = makeStrip()
            openLink()
            var rates = child(strip, "stripRates")
            var win = testRoot.testWindow
            verify(win, "the strip is in a window")
            win.showMinimized()
            tryCompare(win, "visibility", Window.Minimized, 5000)
            connection.framesPerSecond = 60
            connection.bytesPerSecond = 2220
            compare(rates.text, "50 frames/s · 1850 B/s")
            // Shown again, the figures catch up at once.
            win.showNormal()
            tryCompare(win, "visibility", Window.Windowed, 5000)
            compare(rates.text, "60 frames/s · 2220 B/s")
        }
    }
}
