// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// Opens the report of the page's latest run as a page of its own: what the
// module held before and was given, the residuals, the score and what it rests
// on, and the files; Save as PDF prints it beside the report's file.
Button {
    id: button
    objectName: "reportButton"
    property string sensor
    readonly property var guide: backEnd.calibrationGuide ? backEnd.calibrationGuide : null
    readonly property bool available: guide !== null && guide.reports[sensor] !== undefined

    text: qsTr("Report")
    enabled: available
    onClicked: {
        reportText.text = guide.reportHtml(sensor)
        pdfStatus.text = ""
        pdfStatus.failed = false
        reportScroll.contentY = 0
        reportPopup.open()
    }

    function savePdf() {
        var path = guide.saveReportPdf(sensor)
        pdfStatus.failed = path === ""
        pdfStatus.text = path !== "" ? qsTr("Saved as %1").arg(path) : guide.reportPdfError()
    }

    Popup {
        id: reportPopup
        objectName: "reportPopup"
        parent: Overlay.overlay
        // Fits the smallest window the tool is made for (800x600) with a margin.
        width: parent ? Math.min(parent.width - 32, 760) : 400
        height: parent ? parent.height - 32 : 400
        x: parent ? (parent.width - width) / 2 : 0
        y: parent ? (parent.height - height) / 2 : 0
        modal: true
        padding: 16

        Flickable {
            id: reportScroll
            objectName: "reportScroll"
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: actions.top
            anchors.bottomMargin: 8
            contentHeight: reportText.implicitHeight
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

            Label {
                id: reportText
                objectName: "reportText"
                width: reportScroll.width - 14
                textFormat: Text.RichText
                wrapMode: Text.WordWrap
                font.pixelSize: 14
            }
        }

        Item {
            id: actions
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: Math.max(pdfStatus.implicitHeight, buttonRow.implicitHeight)

            Label {
                id: pdfStatus
                objectName: "reportPdfStatus"
                property bool failed: false
                anchors.left: parent.left
                anchors.right: buttonRow.left
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                wrapMode: Text.WrapAnywhere
                color: failed ? "#ff8a65" : "#81c784"
            }

            Row {
                id: buttonRow
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                spacing: 8

                Button {
                    objectName: "reportPdfButton"
                    text: qsTr("Save as PDF")
                    onClicked: button.savePdf()
                }

                Button {
                    objectName: "reportCloseButton"
                    text: qsTr("Close")
                    onClicked: reportPopup.close()
                }
            }
        }
    }
}
