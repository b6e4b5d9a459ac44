// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Beside the magnetometer scatter: how much of the sphere of field directions
// the run has reached, where to turn next, the live fit figures, whether the
// data is good enough to finish and why not, and the four fits to choose from.
Rectangle {
    id: panel
    objectName: "magGuidePanel"
    color: "#263238"
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null

    function figure(value, digits) {
        return value < 0 ? "–" : value.toFixed(digits) + "%"
    }

    Flickable {
        anchors.fill: parent
        anchors.margins: 8
        contentHeight: column.height
        clip: true

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

            CoverageMap {
                width: parent.width
                height: implicitHeight
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

            Label {
                width: parent.width
                visible: fitRepeater.count > 0
                font.bold: true
                text: qsTr("Fit to write (spread of the corrected field, fitted / on points it did not see):")
                wrapMode: Text.WordWrap
            }

            Repeater {
                id: fitRepeater
                model: panel.guide ? panel.guide.magFits : []
                delegate: RadioButton {
                    objectName: "fitChoice" + index
                    width: column.width
                    enabled: modelData.valid
                    checked: panel.guide && panel.guide.magChosenFit === index
                    text: modelData.name + ": "
                          + (modelData.valid
                             ? modelData.spread.toFixed(2) + "%"
                               + (modelData.heldOutSpread !== undefined
                                  ? " / " + modelData.heldOutSpread.toFixed(2) + "%" : "")
                             : (modelData.reason ? qsTr("not valid: %1").arg(modelData.reason)
                                                 : qsTr("no fit")))
                          + (modelData.best ? qsTr(" (best)") : "")
                    onClicked: panel.guide.chooseMagFit(index)
                }
            }

            ReportButton {
                sensor: "magnetometer"
            }
        }
    }
}
