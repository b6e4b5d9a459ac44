// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import "components"

// Gyroscope calibration: the user keeps the module still, the backend
// measures the offset and reports the quality.
CalibrationPage {
    id: root
    sensor: "gyroscope"
    // A turn found in the rest period, and the run's report.
    sidePanelWidth: Math.min(240, width * 0.25)
    sidePanel: GyroGuidePanel { anchors.fill: parent }

    sensorView: ChartStrip {
        // As the live page names and measures them.
        signalNames: ["Gyro_X", "Gyro_Y", "Gyro_Z"]
        valueLabel: qsTr("Angular rate")
        unit: "°/s"
        data: backEnd.gyroDataList
    }

    onCalStateEntered: {
        switch (calState) {
        case 0:
            buttonBack.enabled = true
            buttonStart.text = "Start"
            buttonStart.enabled = true
            loading.visible = false
            break
        case 1:
            buttonBack.enabled = false
            buttonStart.text = "Ready"
            banner.show("Keep device in completly steady state and click Ready.")
            root.instruction = qsTr("Keep the module completely still and click Ready.")
            break
        case 2:
            banner.show("Wait for calibration to finish.")
            root.instruction = qsTr("Keep the module still until the calibration finishes.")
            buttonStart.text = "Wait"
            loading.visible = true
            buttonStart.enabled = false
            backEnd.gyroCalButton()
            break
        }
    }

    Connections {
        target: backEnd
        function onGyroCalFinished(quality) {
            root.calFinished(quality)
        }
        function onGyroDataListChanged() {
            root.sampleArrived()
        }
    }

    PageProgress {
        id: loading
    }
}
