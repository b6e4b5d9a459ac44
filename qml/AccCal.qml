// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import "components"

// Six-position accelerometer calibration. Odd states prompt for a position,
// even states wait while the backend gathers it; the backend's stage signal
// moves on to the next prompt.
CalibrationPage {
    id: root
    sensor: "accelerometer"
    // The face up now, and a wrong one named at once; positions are gathered
    // only while their face holds steady.
    sidePanelWidth: Math.min(300, width * 0.3)
    sidePanel: AccFacePanel {
        anchors.fill: parent
        // A face other than the one asked for is an error only while a
        // position is being gathered; before Ready it is the next step.
        gathering: root.calState > 0 && root.calState % 2 === 0
    }
    Component.onCompleted: if (backEnd.calibrationGuide) backEnd.calibrationGuide.holdPositions = true
    Component.onDestruction: if (backEnd.calibrationGuide) backEnd.calibrationGuide.holdPositions = false

    sensorView: ChartStrip {
        // As the live page names and measures them.
        signalNames: ["Acc_X", "Acc_Y", "Acc_Z"]
        valueLabel: qsTr("Acceleration")
        unit: "m/s²"
        data: backEnd.accDataList
    }

    function setForReady(stateText) {
        buttonStart.text = "Ready"
        loading.playing = false
        buttonStart.enabled = true
        banner.show("Place Device " + stateText + " and Click Ready.")
        root.instruction = qsTr("Place the module %1 and click Ready.").arg(stateText)
        root.askedFace = stateText
        hideLoading.start()
    }

    function gotoWait() {
        buttonStart.text = "Wait"
        loading.playing = true
        loading.visible = true
        buttonStart.enabled = false
        root.instruction = qsTr("Hold the module %1 still while its samples are gathered.")
                               .arg(root.askedFace)
        backEnd.accCalButton()
    }

    // The position asked for last, for the line that stays while it is gathered.
    property string askedFace: ""

    onCalStateEntered: {
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
        function onAccDataListChanged() {
            root.sampleArrived()
        }
    }

    PageProgress {
        id: loading
    }

    NumberAnimation {
        id: hideLoading
        target: loading
        property: "opacity"
        to: 0
        duration: 500
        easing.type: Easing.InOutQuad
    }

    // Each time the banner's hold ends, the progress comes back, and the hold
    // starts again once it is shown.
    NumberAnimation {
        id: showLoading
        target: loading
        property: "opacity"
        to: 1
        duration: 500
        easing.type: Easing.InOutQuad
        onFinished: root.banner.restartTimer()
    }

    Connections {
        target: root.banner
        function onExpired() {
            showLoading.start()
        }
    }
}
