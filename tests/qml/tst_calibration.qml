import QtQuick 2.12
import QtTest 1.12

// The three calibration pages' state tables, driven by their buttons and the
// backend's signals.
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

    TestCase {
        name: "Calibration"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        function makePage(component) {
            var loader = createTemporaryObject(component, testRoot)
            verify(loader.item, "page loads")
            return loader.item
        }

        function child(page, name) {
            var item = findChild(page, name)
            verify(item, name + " exists")
            return item
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

        function test_finishedSignalOfOtherSensorIsIgnored() {
            var page = makePage(gyroComponent)
            mouseClick(child(page, "buttonStart"))
            backEnd.accCalFinished(10)
            backEnd.magCalFinished(10)
            compare(page.calState, 1)
            compare(child(page, "hintText").text, "Keep device in completly steady state and click Ready.")
        }
    }
}
