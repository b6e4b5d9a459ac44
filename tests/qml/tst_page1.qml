// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Window 2.12
import QtTest 1.12

// The live data page: readout, port controls and the connection states.
Item {
    id: testRoot
    width: 1024
    height: 720

    Component {
        id: pageComponent
        Loader { source: "qrc:/Page1.qml"; width: 1024; height: 720 }
    }

    TestCase {
        name: "Page1"
        when: windowShown

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

        function test_readoutText_data() {
            return [
                { tag: "rounds to a tenth", value: 12.345, expected: "Roll:12.3" },
                { tag: "small negative loses sign", value: -0.04, expected: "Roll:0" },
                { tag: "negative tenth kept", value: -0.06, expected: "Roll:-0.1" },
                { tag: "half goes up", value: -0.05, expected: "Roll:0" },
                { tag: "not a number", value: NaN, expected: "" },
                { tag: "missing", value: undefined, expected: "" }
            ]
        }

        function test_readoutText(data) {
            var page = makePage()
            compare(page.readoutText("Roll:", data.value), data.expected)
        }

        function test_readoutFollowsEulerList() {
            var page = makePage()
            compare(child(page, "rollText").text, "", "empty before any data")
            backEnd.setList("euler", [12.345, -0.04, -0.06])
            compare(child(page, "rollText").text, "Roll:12.3°")
            compare(child(page, "pitchText").text, "Pitch:0°")
            compare(child(page, "yawText").text, "Yaw:-0.1°")
            backEnd.setList("euler", [NaN, 1, 2])
            compare(child(page, "rollText").text, "")
            compare(child(page, "yawText").text, "Yaw:2°")
        }

        function test_connectTogglesControls() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            var button = child(page, "connectButton")
            var reset = child(page, "resetButton")
            var refresh = child(page, "refreshButton")
            compare(combo.count, 2)
            combo.currentIndex = 1

            mouseClick(button)
            compare(backEnd.callCount("connectClicked"), 1)
            compare(backEnd.lastArguments("connectClicked")[0], 1)
            compare(button.text, "Disconnect")
            compare(combo.enabled, false)
            compare(reset.visible, true)
            compare(refresh.visible, false)

            mouseClick(button)
            compare(backEnd.callCount("connectClicked"), 2)
            compare(backEnd.lastArguments("connectClicked")[0], 1)
            compare(button.text, "Connect")
            compare(combo.enabled, true)
            compare(reset.visible, false)
            compare(refresh.visible, true)
        }

        // Where each control of the top row stands, in page coordinates.
        function topRowPlaces(page) {
            var names = ["serialComboBox", "connectButton", "recordButton", "topRowLastSlot"]
            var places = {}
            for (var i = 0; i < names.length; ++i) {
                var item = child(page, names[i])
                var p = item.mapToItem(page, 0, 0)
                places[names[i]] = { x: Math.round(p.x), width: Math.round(item.width) }
            }
            return places
        }

        // Measured once the layout has settled (it lays out on the next polish).
        function comparePlaces(page, before, when) {
            waitForRendering(page)
            var after = topRowPlaces(page)
            for (var name in before) {
                compare(after[name].x, before[name].x, name + " moved " + when)
                compare(after[name].width, before[name].width, name + " changed width " + when)
            }
        }

        function test_topRowStandsStillAcrossConnectAndRecord() {
            var page = makePage()
            var button = child(page, "connectButton")
            waitForRendering(page)
            var before = topRowPlaces(page)
            verify(button.width >= button.implicitWidth, "the caption is not clipped")

            mouseClick(button)
            compare(button.text, "Disconnect")
            comparePlaces(page, before, "on connect")
            verify(button.width >= button.implicitWidth, "Disconnect is not clipped")
            var reset = child(page, "resetButton")
            verify(reset.width >= reset.implicitWidth, "Reset Defaults is not clipped")

            mouseClick(child(page, "recordButton"))
            backEnd.recording.setStatus(65000, 20213, 2450000, false)
            compare(child(page, "recordStatus").visible, true)
            comparePlaces(page, before, "while recording")

            mouseClick(child(page, "recordButton"))
            mouseClick(button)
            compare(button.text, "Connect")
            comparePlaces(page, before, "after disconnect")
        }

        function test_resetDefaultsStandsApartFromConnectAndRecord() {
            var page = makePage()
            mouseClick(child(page, "connectButton"))
            var reset = child(page, "resetButton")
            var record = child(page, "recordButton")
            var resetLeft = reset.mapToItem(page, 0, 0).x
            var recordRight = record.mapToItem(page, record.width, 0).x
            verify(resetLeft - recordRight >= 12,
                   "Reset Defaults only " + (resetLeft - recordRight) + " px from Record")
            verify(child(page, "topRowRule").visible, "a rule sets it apart")
        }

        // Widest readout lines, at every window size from the smallest up.
        function test_readoutBesideTheBoxNeverOverIt_data() {
            return [
                { tag: "800x600", width: 800, height: 600 },
                { tag: "1024x768", width: 1024, height: 768 },
                { tag: "1366x768", width: 1366, height: 768 },
                { tag: "1920x1080", width: 1920, height: 1080 }
            ]
        }

        function test_readoutBesideTheBoxNeverOverIt(data) {
            var loader = createTemporaryObject(pageComponent, testRoot,
                                               { width: data.width, height: data.height })
            var page = loader.item
            backEnd.setList("euler", [-179.95, -179.95, -179.95])
            var temperature = createTemporaryObject(fakeRegister, testRoot)
            child(page, "temperatureText").registers = [temperature]
            temperature.data = -39.95
            temperature.updated = true
            waitForRendering(page)
            var box = child(page, "boxArea")
            var boxLeft = box.mapToItem(page, 0, 0).x
            verify(box.width > 80, "the box keeps room: " + box.width)
            var names = ["rollText", "pitchText", "yawText", "temperatureText"]
            for (var i = 0; i < names.length; ++i) {
                var text = child(page, names[i])
                if (text.text === "")
                    continue
                var right = text.mapToItem(page, text.contentWidth, 0).x
                verify(right <= boxLeft, names[i] + " \"" + text.text + "\" ends at " + right
                       + ", the box starts at " + boxLeft)
            }
            compare(child(page, "pitchText").text, "Pitch:-179.9°")
            compare(child(page, "temperatureText").text, "Temperature:-40.0 °C")
        }

        function test_boxAxesAreLabelledInsideItsArea() {
            var page = makePage()
            waitForRendering(page)
            var box = child(page, "boxArea")
            var names = ["X", "Y", "Z"]
            for (var i = 0; i < names.length; ++i) {
                var label = child(page, "axisLabel" + names[i])
                compare(label.text, names[i])
                verify(label.x >= box.x && label.x + label.width <= box.x + box.width + 0.5,
                       names[i] + " at x " + label.x + " outside " + box.x + ".." + (box.x + box.width))
                verify(label.y >= box.y && label.y + label.height <= box.y + box.height + 0.5,
                       names[i] + " at y " + label.y)
            }
            // Unturned, the camera looks along -x: Y points left of the centre, Z down.
            var centreX = box.x + box.width / 2
            var centreY = box.y + box.height / 2
            verify(child(page, "axisLabelY").x + child(page, "axisLabelY").width / 2 < centreX)
            verify(child(page, "axisLabelZ").y + child(page, "axisLabelZ").height / 2 > centreY)
        }

        function test_emptyPortListConnectsNothing() {
            backEnd.setPorts([])
            var page = makePage()
            var button = child(page, "connectButton")
            compare(child(page, "serialComboBox").count, 0)
            verify(child(page, "statusBanner").visible)
            verify(child(page, "statusLabel").text.indexOf("No serial port found") >= 0)

            mouseClick(button)
            compare(backEnd.callCount("connectClicked"), 0)
            compare(button.text, "Connect")
            compare(child(page, "refreshButton").visible, true)

            // Once a port shows up and is listed, the notice goes away.
            backEnd.setPorts(["ttyNEW"])
            mouseClick(child(page, "refreshButton"))
            compare(child(page, "serialComboBox").count, 1)
            compare(child(page, "statusBanner").visible, false)
        }

        function test_connectionErrorShowsReasonAndResetsControls() {
            var page = makePage()
            var button = child(page, "connectButton")
            mouseClick(button)
            compare(button.text, "Disconnect")

            backEnd.connectionError("ttyFAKE0", "Permission denied")
            compare(button.text, "Connect")
            compare(child(page, "serialComboBox").enabled, true)
            compare(child(page, "refreshButton").visible, true)
            compare(child(page, "resetButton").visible, false)
            var banner = child(page, "statusBanner")
            verify(banner.visible)
            var text = child(page, "statusLabel").text
            verify(text.indexOf("ttyFAKE0") >= 0, text)
            verify(text.indexOf("Permission denied") >= 0, text)

            // The next attempt starts afresh: a new connect call, the banner gone.
            mouseClick(button)
            compare(backEnd.callCount("connectClicked"), 2)
            compare(banner.visible, false)
        }

        function test_aLinkThatWorkedIsLostNotFailed() {
            var page = makePage()
            var button = child(page, "connectButton")
            mouseClick(button)
            backEnd.connection.linkOpen = true
            backEnd.connection.linkOpen = false
            backEnd.connectionError("ttyFAKE0", "Resource error")
            var text = child(page, "statusLabel").text
            compare(text, "Connection to ttyFAKE0 lost: Resource error")

            // The next attempt never opens: that one failed.
            mouseClick(button)
            backEnd.connectionError("ttyFAKE0", "Permission denied")
            compare(child(page, "statusLabel").text, "Connection to ttyFAKE0 failed: Permission denied")

            // Said once: while the status strip tells of the loss, the banner does not.
            backEnd.connection.noticeIsWarning = true
            backEnd.connection.notice = "Lost ttyFAKE0 (Permission denied). Press Connect."
            compare(child(page, "statusBanner").visible, false)
            backEnd.connection.notice = ""
            compare(child(page, "statusBanner").visible, true)
        }

        function test_errorWithoutPortNameStillReadable() {
            var page = makePage()
            backEnd.connectionError("", "No port selected")
            compare(child(page, "statusLabel").text, "Connection failed: No port selected")
        }

        function test_refreshReadsPortListOnce() {
            var page = makePage()
            var combo = child(page, "serialComboBox")
            backEnd.setPorts(["a", "b", "c"])
            compare(combo.count, 2, "no change signal, so no update yet")
            mouseClick(child(page, "refreshButton"))
            compare(combo.count, 3)
            compare(combo.currentText, "a")
        }

        function test_resetDefaultsSendsThreeRequestsInOrder() {
            var page = makePage()
            mouseClick(child(page, "connectButton"))
            mouseClick(child(page, "resetButton"))
            var dialog = child(page, "resetDefaultsDialog")
            tryCompare(dialog, "opened", true)
            mouseClick(child(dialog.footer, "resetDefaultsConfirmButton"))
            tryCompare(dialog, "visible", false)
            compare(backEnd.callOrder().slice(1), ["resetDefaults", "requestAllData", "requestChartData"])
        }

        function test_resetDefaultsWithoutABackupSaysWhyAndRequestsNothing() {
            var page = makePage()
            mouseClick(child(page, "connectButton"))
            backEnd.resetDefaultsError = "Reset Defaults refused, nothing was written: no backup"
            mouseClick(child(page, "resetButton"))
            var dialog = child(page, "resetDefaultsDialog")
            tryCompare(dialog, "opened", true)
            mouseClick(child(dialog.footer, "resetDefaultsConfirmButton"))
            tryCompare(dialog, "visible", false)
            compare(backEnd.callOrder().slice(1), ["resetDefaults"], "no read after a refused reset")
            var banner = child(page, "statusBanner")
            compare(banner.text, backEnd.resetDefaultsError)
            verify(banner.failure)
            backEnd.resetDefaultsError = ""
        }

        // The button that erases stands on the other side from Cancel.
        function test_resetDefaultsConfirmStandsApartFromCancel() {
            var page = makePage()
            mouseClick(child(page, "connectButton"))
            mouseClick(child(page, "resetButton"))
            var dialog = child(page, "resetDefaultsDialog")
            tryCompare(dialog, "opened", true)
            var footer = dialog.footer
            var reset = child(footer, "resetDefaultsConfirmButton")
            var cancel = child(footer, "resetDefaultsCancelButton")
            var r = reset.mapToItem(footer, 0, 0)
            var c = cancel.mapToItem(footer, 0, 0)
            verify(r.x < footer.width / 2, "Reset Defaults on the left: " + r.x)
            verify(c.x - (r.x + reset.width) > 100, "apart by more than a gap: " + c.x)
            mouseClick(cancel)
            tryCompare(dialog, "visible", false)
            compare(backEnd.callCount("resetDefaults"), 0)
        }

        function test_resetDefaultsAsksAndCancelSendsNothing() {
            var page = makePage()
            mouseClick(child(page, "connectButton"))
            mouseClick(child(page, "resetButton"))
            compare(backEnd.callCount("resetDefaults"), 0, "nothing before the answer")
            var dialog = child(page, "resetDefaultsDialog")
            tryCompare(dialog, "opened", true)
            var text = dialog.contentItem.text
            compare(dialog.contentItem.objectName, "resetDefaultsText")
            var mentioned = ["accelerometer", "gyroscope", "magnetometer", "calibrations",
                             "other writable registers", "backup", "saved first",
                             "Backups on the register page"]
            for (var i = 0; i < mentioned.length; ++i)
                verify(text.indexOf(mentioned[i]) >= 0, mentioned[i] + " in: " + text)

            mouseClick(child(dialog.footer, "resetDefaultsCancelButton"))
            tryCompare(dialog, "visible", false)
            compare(backEnd.callOrder(), ["connectClicked"])

            // Escape is a Cancel too. Keys reach the dialog only while this
            // window is the active one: windows of earlier test files can take
            // that on a busy machine.
            mouseClick(child(page, "resetButton"))
            tryCompare(dialog, "opened", true)
            page.Window.window.requestActivate()
            tryVerify(function() { return dialog.activeFocus }, 5000, "the open dialog holds the keyboard")
            keyClick(Qt.Key_Escape)
            tryCompare(dialog, "visible", false)
            compare(backEnd.callOrder(), ["connectClicked"])
        }

        function test_dataProblemIsShownUntilCleared() {
            var page = makePage()
            var banner = child(page, "dataProblemBanner")
            compare(banner.visible, false, "nothing to say while no problem arrived")
            var problem = "Hardware Version 1234 is not known: data cannot be scaled"
            backEnd.setDataProblem(problem)
            compare(banner.visible, true)
            compare(child(page, "dataProblemLabel").text, problem)
            verify(banner.height > 0)
            backEnd.setDataProblem("")
            compare(banner.visible, false)
        }

        SignalSpy { id: accSpy; signalName: "accClicked" }
        SignalSpy { id: gyroSpy; signalName: "gyroClicked" }
        SignalSpy { id: magSpy; signalName: "magClicked" }

        function test_sensorChartsOpenCalibration() {
            var page = makePage()
            accSpy.target = page
            gyroSpy.target = page
            magSpy.target = page
            accSpy.clear(); gyroSpy.clear(); magSpy.clear()
            mouseClick(child(page, "accMouseArea"))
            mouseClick(child(page, "gyroMouseArea"))
            mouseClick(child(page, "gyroMouseArea"))
            mouseClick(child(page, "magMouseArea"))
            // The Euler and quaternion charts do nothing.
            mouseClick(child(page, "eulerCustomPlot"))
            mouseClick(child(page, "quatCustomPlot"))
            compare(accSpy.count, 1)
            compare(gyroSpy.count, 2)
            compare(magSpy.count, 1)
        }

        function test_chartsCarryTheUnitsOfTheDecoding() {
            var page = makePage()
            var expected = {
                eulerCustomPlot: ["Angle", "°"],
                quatCustomPlot: ["Unit quaternion", ""],
                accCustomPlot: ["Acceleration", "m/s²"],
                gyroCustomPlot: ["Angular rate", "°/s"],
                magCustomPlot: ["Magnetic field", "gauss"]
            }
            for (var name in expected) {
                var chart = child(page, name)
                compare(chart.valueLabel, expected[name][0], name)
                compare(chart.unit, expected[name][1], name)
            }
        }

        function test_magChartNamesTheUnitTheModuleHolds() {
            var page = makePage()
            var chart = child(page, "magCustomPlot")
            backEnd.magUnit = "relative to the local field"
            compare(chart.unit, "relative to the local field")
            backEnd.magUnit = "gauss"
            compare(chart.unit, "gauss")
        }

        // The readout names the unit as the chart does, from the one the backend
        // decides; the strength is that of the whole field vector.
        function test_magReadoutNamesTheUnitTheModuleHolds() {
            var page = makePage()
            var readout = child(page, "magText")
            compare(readout.text, "", "empty before any data")
            backEnd.setList("mag", [0.3, 0.4, 0])
            backEnd.setList("euler", [1, 2, 3])
            compare(readout.text, "Mag:0.50 gauss")
            backEnd.magUnit = "relative to the local field"
            compare(readout.text, "Mag:0.50 relative to the local field")
            compare(readout.text.slice(readout.text.indexOf(" ") + 1),
                    child(page, "magCustomPlot").unit, "the chart's unit")
            backEnd.setList("mag", [1, NaN, 0])
            backEnd.setList("euler", [1, 2, 3])
            compare(readout.text, "", "a missing component shows nothing")
        }

        Component {
            id: fakeRegister
            QtObject {
                property string registerName: "Temperature"
                property var data: 0
                property bool updated: false
            }
        }

        function test_temperatureShownOnceTheModuleSentIt() {
            var page = makePage()
            var readout = child(page, "temperatureText")
            var temperature = createTemporaryObject(fakeRegister, testRoot)
            var other = createTemporaryObject(fakeRegister, testRoot, { registerName: "Status" })
            readout.registers = [other, temperature]
            compare(readout.source, temperature)
            compare(readout.text, "", "nothing before the module sent a value")
            temperature.data = 31.42
            temperature.updated = true
            compare(readout.text, "Temperature:31.4 °C")
            temperature.data = -5.06
            compare(readout.text, "Temperature:-5.1 °C")
            // A module without the register shows nothing rather than a guess.
            readout.registers = [other]
            compare(readout.text, "")
        }

        function test_clickOnAPausedChartDoesNotOpenCalibration() {
            var page = makePage()
            accSpy.target = page
            gyroSpy.target = page
            accSpy.clear(); gyroSpy.clear()
            page.chartToolbar.paused = true
            var acc = child(page, "accCustomPlot")
            compare(acc.paused, true)
            mouseClick(acc)
            mouseClick(child(page, "gyroCustomPlot"))
            compare(accSpy.count, 0)
            compare(gyroSpy.count, 0)
            // The wheel zooms it instead, and a double-click goes back.
            backEnd.setList("acc", [1, 2, 3])
            mouseWheel(acc, acc.width / 2, acc.height / 2, 0, 120)
            compare(acc.zoomed, true)
            compare(child(page, "eulerCustomPlot").zoomed, false, "only the chart under the pointer")
            mouseDoubleClickSequence(acc)
            compare(acc.zoomed, false)

            page.chartToolbar.paused = false
            mouseClick(acc)
            compare(accSpy.count, 1)
        }

        function test_pauseButtonPausesEveryChart() {
            var page = makePage()
            var names = ["eulerCustomPlot", "quatCustomPlot", "accCustomPlot", "gyroCustomPlot",
                         "magCustomPlot"]
            var button = child(page, "pauseButton")
            compare(button.text, "Pause")
            mouseClick(button)
            compare(button.text, "Resume")
            for (var i = 0; i < names.length; ++i)
                compare(child(page, names[i]).paused, true, names[i])
            verify(child(page, "chartStatus").text.indexOf("Paused") === 0)
            var reset = child(page, "resetViewButton")
            compare(reset.enabled, false, "nothing to reset before a zoom")
            var quat = child(page, "quatCustomPlot")
            quat.zoomAt(10, 10, 0.5)
            compare(reset.enabled, true)
            mouseClick(reset)
            compare(quat.zoomed, false)
            mouseClick(button)
            for (i = 0; i < names.length; ++i)
                compare(child(page, names[i]).paused, false, names[i])
        }

        function test_chartsGetTheirCurveNames() {
            var page = makePage()
            compare(child(page, "eulerCustomPlot").signalNames, ["Roll", "Pitch", "Yaw"])
            compare(child(page, "quatCustomPlot").signalNames, ["Quat_0", "Quat_1", "Quat_2", "Quat_3"])
            compare(child(page, "accCustomPlot").signalNames, ["Acc_X", "Acc_Y", "Acc_Z"])
            compare(child(page, "gyroCustomPlot").signalNames, ["Gyro_X", "Gyro_Y", "Gyro_Z"])
            compare(child(page, "magCustomPlot").signalNames, ["Mag_X", "Mag_Y", "Mag_Z"])
        }
    
        function test_recordButtonShowsWhatIsWritten() {
            var page = makePage()
            var button = child(page, "recordButton")
            var status = child(page, "recordStatus")
            compare(button.text, "Record")
            compare(status.visible, false, "nothing to show before recording")
            var place = child(page, "recordLocationButton")
            compare(place.visible, true, "the place can be chosen before recording")
            mouseClick(button)
            compare(backEnd.recording.toggles(), 1)
            compare(button.text, "Stop")
            compare(status.visible, true)
            compare(place.visible, false, "not while recording into it")
            backEnd.recording.setStatus(65000, 20213, 2450000, false)
            compare(status.text, "1:05  20213 frames  2.5 MB")
            backEnd.recording.setStatus(3723000, 5, 812000, true)
            compare(status.text, "1:02:03  5 frames  812 kB  (waiting for data)")
            mouseClick(button)
            compare(backEnd.recording.toggles(), 2)
            compare(button.text, "Record")
            compare(status.visible, false)
        }

        function test_recordingFaultIsShownUntilDismissed() {
            var page = makePage()
            var message = "Recording stopped: cannot write \"/media/full/raw.velmarec\": No space left on device"
            backEnd.recording.setError(message)
            var label = child(page, "recordErrorLabel")
            compare(label.text, message)
            tryCompare(child(page, "recordError"), "opened", true)
            mouseClick(child(page, "recordErrorDismiss"))
            compare(backEnd.recording.errorMessage, "")
            tryCompare(child(page, "recordError"), "visible", false)
        }
}
}
