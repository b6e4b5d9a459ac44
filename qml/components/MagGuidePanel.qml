// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Beside the magnetometer scatter: how much of the sphere of field directions
// the run has reached, where to turn next, the live fit figures, whether the
// data is good enough to finish and why not, and the heading check. The fits
// to choose from and the Report button sit under the scatter (MagFitPanel),
// so that at 800x600 all of it shows at once.
Rectangle {
    id: panel
    objectName: "magGuidePanel"
    color: "#263238"
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null

    function figure(value, digits) {
        return value < 0 ? "–" : value.toFixed(digits) + "%"
    }

    Flickable {
        id: guidanceScroll
        objectName: "magGuidanceScroll"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 8
        contentHeight: column.height
        clip: true
        ScrollIndicator.vertical: ScrollIndicator {}

        Column {
            id: column
            width: parent.width
            spacing: 6

            Label {
                objectName: "coverageText"
                width: parent.width
                font.pixelSize: 20
                font.bold: true
                text: qsTr("Covered: %1%").arg(panel.guide ? Math.round(panel.guide.magCoverage) : 0)
            }

            // Smaller in a short window, so the hint below it still shows.
            CoverageMap {
                width: parent.width
                height: Math.min(implicitHeight, Math.max(90, guidanceScroll.height * 0.55))
                cells: panel.guide ? panel.guide.coverageCells : []
            }

            Label {
                objectName: "magHintText"
                width: parent.width
                wrapMode: Text.WordWrap
                font.pixelSize: 16
                color: "#ffd54f"
                text: panel.guide ? panel.guide.magHint : ""
            }

            Label {
                objectName: "magFiguresText"
                width: parent.width
                wrapMode: Text.WordWrap
                text: panel.guide
                      ? qsTr("Not covered: %1\nField spread: %2\nOffset drift, last 5 s: %3\nPoints kept: %4")
                        .arg(panel.figure(panel.guide.magUncovered, 0))
                        .arg(panel.figure(panel.guide.magSpread, 2))
                        .arg(panel.figure(panel.guide.magDrift, 2))
                        .arg(panel.guide.magPoints)
                      : ""
            }

            Label {
                objectName: "magVerdictText"
                width: parent.width
                wrapMode: Text.WordWrap
                color: panel.guide && panel.guide.magGoodEnough ? "#81c784" : "#ff8a65"
                text: panel.guide && panel.guide.magPoints > 0 ? panel.guide.magVerdict : ""
            }

            // After a calibration: the module laid flat and turned through
            // eight headings, the deviation before and with the calibration.
            Button {
                objectName: "headingButton"
                text: panel.guide && panel.guide.headingRunning ? qsTr("Stop heading check")
                                                                : qsTr("Check headings")
                enabled: panel.guide !== null && !panel.guide.magGathering
                onClicked: panel.guide.headingRunning ? panel.guide.stopHeadingTurns()
                                                      : panel.guide.startHeadingTurns()
            }

            Label {
                objectName: "headingHintText"
                width: parent.width
                wrapMode: Text.WordWrap
                color: "#ffd54f"
                visible: text.length > 0
                text: panel.guide && panel.guide.headingRunning
                      ? qsTr("Heading %1 of 8. %2").arg(panel.guide.headingStops + 1).arg(panel.guide.headingHint)
                      : ""
            }

            Label {
                objectName: "headingSummaryText"
                width: parent.width
                wrapMode: Text.WordWrap
                visible: text.length > 0
                text: panel.guide ? panel.guide.headingSummary : ""
            }
        }
    }
}
