// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Over the live page's main chart: what became of a calibration whose page
// is gone, and the restores offered for runs a lost connection cut off.
Column {
    id: root

    // Empty when there is nothing to say; OK empties it through dismissed().
    property string outcomeText: ""
    signal dismissed

    Rectangle {
        objectName: "calibrationOutcome"
        width: parent.width
        height: Math.max(outcomeLabel.implicitHeight, outcomeDismiss.implicitHeight) + 16
        visible: root.outcomeText !== ""
        color: "#455a64"

        Label {
            id: outcomeLabel
            objectName: "calibrationOutcomeLabel"
            anchors.left: parent.left
            anchors.right: outcomeDismiss.left
            anchors.verticalCenter: parent.verticalCenter
            anchors.margins: 8
            // A word longer than the line (a port's by-id name) is broken too.
            wrapMode: Text.Wrap
            color: "white"
            text: root.outcomeText
        }

        Button {
            id: outcomeDismiss
            objectName: "calibrationOutcomeDismiss"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("OK")
            onClicked: root.dismissed()
        }
    }

    Repeater {
        model: backEnd.calibrationRestoreOffers

        Rectangle {
            objectName: "restoreOffer"
            width: root.width
            height: Math.max(offerLabel.implicitHeight, offerButtons.implicitHeight) + 16
            color: "#1565c0"

            Label {
                id: offerLabel
                objectName: "restoreOfferLabel"
                anchors.left: parent.left
                anchors.right: offerButtons.left
                anchors.verticalCenter: parent.verticalCenter
                anchors.margins: 8
                wrapMode: Text.Wrap
                color: "white"
                text: modelData.text
            }

            Row {
                id: offerButtons
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter

                Button {
                    objectName: "restoreOfferRestore"
                    text: qsTr("Restore")
                    onClicked: backEnd.restoreCalibration(modelData.sensor)
                }

                Button {
                    objectName: "restoreOfferDismiss"
                    text: qsTr("Dismiss")
                    onClicked: backEnd.dismissCalibrationRestore(modelData.sensor)
                }
            }
        }
    }
}
