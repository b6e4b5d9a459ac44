// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Beside the gyroscope chart: a turn found in the last rest period, and the
// run's report.
Rectangle {
    id: panel
    objectName: "gyroGuidePanel"
    color: "#263238"
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null

    Column {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8

        Label {
            objectName: "gyroVerdictText"
            width: parent.width
            wrapMode: Text.WordWrap
            color: "#ff8a65"
            text: panel.guide && panel.guide.gyroVerdict ? panel.guide.gyroVerdict : ""
        }

        ReportButton {
            sensor: "gyroscope"
        }
    }
}
