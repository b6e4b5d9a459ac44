import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import CustomPlot 1.0

// Six-position accelerometer calibration. Odd states prompt for a position,
// even states wait while the backend gathers it; the backend's stage signal
// moves on to the next prompt.
Item {
    id: root
    anchors.fill: parent

    property StackView stackView
    property Loader myLoader
    property int calState: 0
    // Set while the page goes away, so that the end of its run is not shown on it.
    property bool leaving: false
    // The module has sent nothing for noDataTimeout ms during a run: Back is
    // offered, and leaving abandons the run.
    property bool samplesMissing: false
    property int noDataTimeout: 5000

    function qualityText(quality) {
        return "Calibration Finished! Quality:" + quality + "/100"
    }

    function calFinished(quality) {
        calState = 0
        hintText.text = qualityText(quality)
        showHint.start()
        reset.interval = 20000
    }

    // A run that ended without a result: what happened to the module, for as
    // long as a quality would stay.
    function calFailed(message) {
        calState = 0
        lowQuality = -1
        hintText.text = message
        showHint.start()
        reset.interval = 20000
    }

    function sampleArrived() {
        if (calState === 0)
            return
        sampleWatch.restart()
        if (samplesMissing) {
            samplesMissing = false
            buttonBack.enabled = false
            hideHint.start()
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

    // Leaving mid-run (Back, or the window closing) abandons the run, so the
    // backend puts the module's previous parameters back.
    Component.onDestruction: {
        leaving = true
        backEnd.cancelCalibration()
    }

    function setForReady(stateText) {
        buttonStart.text = "Ready"
        loading.playing = false
        buttonStart.enabled = true
        hintText.text = "Place Device " + stateText + " and Click Ready."
        showHint.start()
        hideLoading.start()
    }

    function gotoWait() {
        buttonStart.text = "Wait"
        loading.playing = true
        loading.visible = true
        buttonStart.enabled = false
        backEnd.accCalButton()
    }

    onCalStateChanged: {
        watchSamples()
        switch (calState) {
        case 0:
            buttonStart.text = "Start"
            buttonStart.enabled = true
            buttonBack.enabled = true
            loading.visible = false
            break
        case 1:
            buttonBack.enabled = false
            backEnd.accCalButton()
            setForReady("Z-Up")
            break
        case 3:
            setForReady("Z-Down")
            break
        case 5:
            setForReady("Y-Up")
            break
        case 7:
            setForReady("Y-Down")
            break
        case 9:
            setForReady("X-Up")
            break
        case 11:
            setForReady("X-Down")
            break
        case 2:
        case 4:
        case 6:
        case 8:
        case 10:
        case 12:
            gotoWait()
            break
        case 13:
            calState = 0
            break
        }
    }

    Connections {
        target: backEnd
        function onAccCalStageFinished() {
            root.calState = root.calState + 1
        }
        function onAccCalFinished(quality) {
            root.calFinished(quality)
        }
    }

    Connections {
        target: backEnd
        function onAccDataListChanged() {
            root.sampleArrived()
        }
        function onCalibrationFailed(sensor, message) {
            if (sensor === "accelerometer" && !root.leaving)
                root.calFailed(message)
        }
    }

    Timer {
        id: sampleWatch
        objectName: "sampleWatch"
        interval: root.noDataTimeout
        repeat: false
        onTriggered: {
            root.samplesMissing = true
            buttonBack.enabled = true
            hintText.text = qsTr("No data from the module. Check the connection, or go Back to cancel.")
            showHint.start()
            reset.interval = 20000
        }
    }

    CustomPlotItem {
        id: plotItem
        objectName: "plotItem"
        anchors.top: parent.top
        anchors.bottom: buttonsLayout.top
        anchors.left: parent.left
        anchors.right: parent.right
        signalNames: ["AccX", "AccY", "AccZ"]
        data: backEnd.accDataList
    }

    RowLayout {
        id: buttonsLayout
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        height: 75
        spacing: 0

        Button {
            id: buttonBack
            objectName: "buttonBack"
            text: "Back"
            Layout.fillWidth: true
            Layout.fillHeight: true
            onClicked: {
                root.stackView.pop()
                backEnd.requestChartData()
                root.myLoader.active = false
            }
        }

        Button {
            id: buttonStart
            objectName: "buttonStart"
            text: "Start"
            Layout.fillWidth: true
            Layout.fillHeight: true
            onClicked: root.calState = root.calState + 1
        }
    }

    LoadingIndicator {
        id: loading
        objectName: "loading"
        anchors.centerIn: parent
        width: Math.min(parent.width / 4, parent.height / 4)
        height: width
        visible: false
    }

    NumberAnimation {
        id: hideLoading
        target: loading
        property: "opacity"
        to: 0
        duration: 500
        easing.type: Easing.InOutQuad
    }

    NumberAnimation {
        id: showLoading
        target: loading
        property: "opacity"
        to: 1
        duration: 500
        easing.type: Easing.InOutQuad
        onFinished: reset.restart()
    }

    Rectangle {
        id: hintRect
        objectName: "hintRect"
        anchors.centerIn: parent
        width: parent.width
        height: parent.height * 0.2
        color: "#11aabb"
        opacity: 0

        Text {
            id: hintText
            objectName: "hintText"
            anchors.fill: parent
            text: qsTr("Hint")
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: Math.max(1, hintRect.height * 0.3)
            wrapMode: Text.WordWrap
        }
    }

    NumberAnimation {
        id: hideHint
        target: hintRect
        property: "opacity"
        to: 0
        duration: 500
        easing.type: Easing.InOutQuad
    }

    NumberAnimation {
        id: showHint
        target: hintRect
        property: "opacity"
        to: 0.7
        duration: 500
        easing.type: Easing.InOutQuad
        onFinished: reset.restart()
    }

    Timer {
        id: reset
        objectName: "resetTimer"
        interval: 3000
        running: false
        repeat: false
        onTriggered: {
            showLoading.start()
            hideHint.start()
            reset.interval = 3000
        }
    }

    // A result scored below the floor waits for the user, who sees its score:
    // the module keeps neutral parameters until one of the two is chosen.
    property real lowQuality: -1

    Connections {
        target: backEnd
        function onCalibrationNeedsConfirmation(sensor, quality) {
            if (sensor === "accelerometer" && !root.leaving)
                root.lowQuality = quality
        }
    }

    // Covers the page, so that nothing else can be pressed meanwhile.
    MouseArea {
        id: confirmOverlay
        objectName: "confirmOverlay"
        anchors.fill: parent
        visible: root.lowQuality >= 0
        z: 10

        Rectangle {
            anchors.fill: parent
            color: "#99000000"
        }

        Rectangle {
            anchors.centerIn: parent
            width: parent.width * 0.8
            height: confirmColumn.implicitHeight + 32
            color: "#263238"
            radius: 4

            ColumnLayout {
                id: confirmColumn
                anchors.fill: parent
                anchors.margins: 16
                spacing: 12

                Label {
                    objectName: "confirmText"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    color: "white"
                    font.pixelSize: 18
                    text: qsTr("Calibration quality %1/100 is below 50. Written, it may make the readings worse than the calibration the module had.").arg(Math.round(root.lowQuality))
                }

                RowLayout {
                    Layout.fillWidth: true

                    Button {
                        objectName: "buttonWriteAnyway"
                        Layout.fillWidth: true
                        text: qsTr("Write anyway")
                        onClicked: {
                            root.lowQuality = -1
                            backEnd.confirmCalibrationResult("accelerometer")
                        }
                    }

                    Button {
                        objectName: "buttonDiscard"
                        Layout.fillWidth: true
                        text: qsTr("Discard")
                        onClicked: {
                            root.lowQuality = -1
                            backEnd.discardCalibrationResult("accelerometer")
                        }
                    }
                }
            }
        }
    }
}
