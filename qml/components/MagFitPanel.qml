// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Under the magnetometer scatter: the five fits to choose from, each with its
// figures or the whole reason it is refused, and the Report button. The page
// gives it its implicit height where it can; the list scrolls only when even
// that is more than the page can spare.
Rectangle {
    id: panel
    objectName: "magFitPanel"
    color: "#263238"
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null

    implicitHeight: (fitHeading.visible ? fitHeading.implicitHeight + fitArea.spacing : 0)
                    + fitList.height + fitArea.spacing + reportButton.implicitHeight
                    + fitArea.anchors.topMargin + fitArea.anchors.bottomMargin

    function fitText(fit) {
        return fit.name + ": "
                + (fit.valid
                   ? fit.spread.toFixed(2) + "%"
                     + (fit.heldOutSpread !== undefined ? " / " + fit.heldOutSpread.toFixed(2) + "%" : "")
                   : (fit.reason ? qsTr("not valid: %1").arg(fit.reason) : qsTr("no fit")))
                + (fit.best ? qsTr(" (best)") : "")
    }

    Column {
        id: fitArea
        objectName: "magFitArea"
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        anchors.topMargin: 4
        anchors.bottomMargin: 4
        spacing: 2

        Label {
            id: fitHeading
            width: parent.width
            visible: fitRepeater.count > 0
            font.bold: true
            text: qsTr("Fit to write (spread of the corrected field, fitted / on points it did not see):")
            wrapMode: Text.WordWrap
        }

        Flickable {
            id: fitScroll
            objectName: "magFitScroll"
            width: parent.width
            // As tall as the list, unless the page gives less.
            height: Math.max(0, Math.min(fitList.height,
                                         fitArea.height - (fitHeading.visible ? fitHeading.height + fitArea.spacing : 0)
                                         - reportButton.height - fitArea.spacing))
            contentHeight: fitList.height
            clip: true
            ScrollIndicator.vertical: ScrollIndicator {}

            Column {
                id: fitList
                width: parent.width

                Repeater {
                    id: fitRepeater
                    model: panel.guide ? panel.guide.magFits : []
                    delegate: RadioButton {
                        id: fitChoice
                        objectName: "fitChoice" + index
                        width: fitList.width
                        topPadding: 2
                        bottomPadding: 2
                        enabled: modelData.valid
                        checked: panel.guide && panel.guide.magChosenFit === index
                        text: panel.fitText(modelData)
                        // Wrapped, not elided: the figures and a refusal's
                        // reason are what the user chooses by.
                        contentItem: Label {
                            objectName: "fitText"
                            leftPadding: fitChoice.indicator ? fitChoice.indicator.width + fitChoice.spacing : 0
                            text: fitChoice.text
                            font: fitChoice.font
                            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                            verticalAlignment: Text.AlignVCenter
                            opacity: fitChoice.enabled ? 1 : 0.6
                        }
                        onClicked: panel.guide.chooseMagFit(index)
                    }
                }
            }
        }

        ReportButton {
            id: reportButton
            sensor: "magnetometer"
        }
    }
}
