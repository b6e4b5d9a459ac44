// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// What the three calibration pages share: the sensor view above the Back and
// Start buttons, the hint banner, the question a poor result asks, the watch
// for a module that falls silent mid-run, and abandoning the run on leaving.
// A page adds its sensor view, its state table (run on calStateEntered), and
// hands on its sensor's samples (sampleArrived) and result (calFinished).
Item {
    id: root
    anchors.fill: parent

    property StackView stackView
    property Loader myLoader
    property int calState: 0
    // The sensor's name in the backend's calibration signals and slots.
    property string sensor
    // Set while the page goes away, so that the end of its run is not shown on it.
    property bool leaving: false
    // The module has sent nothing for noDataTimeout ms during a run: Back is
    // offered, and leaving abandons the run.
    property bool samplesMissing: false
    property int noDataTimeout: 5000
    // The score of a result that waits for the user's choice, or -1.
    property alias lowQuality: confirm.quality

    // What the page shows above the buttons: its chart, or the scatter.
    property alias sensorView: viewArea.data
    // Guidance beside the sensor view (coverage, face up, reports), as wide as
    // sidePanelWidth; a page without it keeps the whole width for its view.
    property alias sidePanel: sideArea.data
    property real sidePanelWidth: 0
    // Under the sensor view and as wide (the magnetometer's fits), as tall as
    // viewFooterHeight; none by default.
    property alias viewFooter: footerArea.data
    property real viewFooterHeight: 0
    property alias banner: hintBanner
    property alias buttonBack: buttons.backButton
    property alias buttonStart: buttons.startButton
    property alias buttonCancel: buttons.cancelButton
    // What the user is to do now. Unlike the banner, which fades, it stays
    // above the buttons for as long as it applies; a page sets it with each
    // step and it clears when the run ends.
    property string instruction: ""

    // Ends the run where it is: the backend puts back the parameters the
    // module had before it, and the page is ready for a new run.
    function cancelRun() {
        backEnd.cancelCalibration()
        lowQuality = -1
        calState = 0
        instruction = ""
        hintBanner.showLong(qsTr("Cancelled: the module keeps the parameters it had before the run."))
    }

    // calState has changed and the sample watch has caught up with it.
    signal calStateEntered()

    function qualityText(quality) {
        return "Calibration Finished! Quality:" + quality + "/100"
    }

    // The result also stays on the line under the chart, so the banner over
    // the chart can be clicked away without losing it.
    function calFinished(quality) {
        calState = 0
        instruction = qualityText(quality)
        hintBanner.showLong(qualityText(quality))
    }

    // A run that ended without a result: what happened to the module, for as
    // long as a quality would stay.
    function calFailed(message) {
        calState = 0
        instruction = ""
        lowQuality = -1
        hintBanner.showLong(message)
    }

    function sampleArrived() {
        if (calState === 0)
            return
        sampleWatch.restart()
        if (samplesMissing) {
            samplesMissing = false
            buttonBack.enabled = false
            hintBanner.hide()
        }
    }

    function watchSamples() {
        if (calState === 0) {
            sampleWatch.stop()
            samplesMissing = false
        } else if (!sampleWatch.running && !samplesMissing) {
            sampleWatch.restart()
        }
    }

    onCalStateChanged: {
        watchSamples()
        // A new run: the last result or step no longer applies.
        if (calState === 1)
            instruction = ""
        calStateEntered()
    }

    // Leaving mid-run (Back, or the window closing) abandons the run, so the
    // backend puts the module's previous parameters back.
    Component.onDestruction: {
        leaving = true
        backEnd.cancelCalibration()
    }

    Connections {
        target: backEnd
        function onCalibrationFailed(sensor, message) {
            if (sensor === root.sensor && !root.leaving)
                root.calFailed(message)
        }
        function onCalibrationScoreReason(sensor, reason) {
            if (sensor === root.sensor && !root.leaving)
                confirm.reason = reason
        }
        function onCalibrationNeedsConfirmation(sensor, quality) {
            if (sensor === root.sensor && !root.leaving)
                root.lowQuality = quality
        }
    }

    Timer {
        id: sampleWatch
        objectName: "sampleWatch"
        interval: root.noDataTimeout
        repeat: false
        onTriggered: {
            root.samplesMissing = true
            root.buttonBack.enabled = true
            hintBanner.showLong(qsTr("No data from the module. Check the connection, or go Back to cancel."))
        }
    }

    Item {
        id: viewArea
        objectName: "sensorViewArea"
        anchors.top: parent.top
        anchors.bottom: footerArea.top
        anchors.left: parent.left
        anchors.right: sideArea.left
    }

    Item {
        id: footerArea
        objectName: "sensorFooterArea"
        anchors.bottom: resultSlot.top
        anchors.left: parent.left
        anchors.right: sideArea.left
        height: root.viewFooterHeight
    }

    // Room for a result or a fault while it shows: the view and the panel
    // beside it give up this strip instead of being covered.
    Item {
        id: resultSlot
        objectName: "resultSlot"
        anchors.bottom: instructionLine.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: hintBanner.docked && hintBanner.opacity > 0 ? hintBanner.dockHeight : 0
    }

    Rectangle {
        id: instructionLine
        objectName: "instructionLine"
        anchors.bottom: buttons.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: root.instruction !== "" ? instructionLabel.implicitHeight + 12 : 0
        visible: root.instruction !== ""
        color: "#11aabb"

        Label {
            id: instructionLabel
            objectName: "instructionLabel"
            anchors.fill: parent
            anchors.margins: 6
            verticalAlignment: Text.AlignVCenter
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            font.pixelSize: 16
            font.bold: true
            color: "white"
            text: root.instruction
        }
    }

    Item {
        id: sideArea
        objectName: "sideArea"
        anchors.top: parent.top
        anchors.bottom: resultSlot.top
        anchors.right: parent.right
        width: root.sidePanelWidth
    }

    BackStartRow {
        id: buttons
        onBackClicked: {
            root.stackView.pop()
            backEnd.requestChartData()
            root.myLoader.active = false
        }
        onStartClicked: root.calState = root.calState + 1
        onCancelClicked: root.cancelRun()
        cancelButton.enabled: root.calState !== 0 || root.lowQuality >= 0
    }

    HintBanner {
        id: hintBanner
        dockY: instructionLine.y - dockHeight
    }

    PoorResultPanel {
        id: confirm
        onWriteChosen: backEnd.confirmCalibrationResult(root.sensor)
        onDiscardChosen: backEnd.discardCalibrationResult(root.sensor)
    }
}
