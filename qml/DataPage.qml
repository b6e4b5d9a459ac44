import QtQuick 2.12
import QtQuick.Controls 2.12

// First screen: live data on the first page, the register map on the second.
Item {
    id: root

    property StackView stackView

    signal accClicked
    signal gyroClicked
    signal magClicked

    SwipeView {
        id: view
        objectName: "swipeView"
        anchors.fill: parent
        currentIndex: 0

        Page1 {
            id: firstPage
            objectName: "firstPage"
            stackView: root.stackView
            boxRot: backEnd.qQuat
            eulerCustomPlot.data: backEnd.eulerDataList
            quatCustomPlot.data: backEnd.quatDataList
            accCustomPlot.data: backEnd.accDataList
            magCustomPlot.data: backEnd.magDataList
            gyroCustomPlot.data: backEnd.gyroDataList
            onGyroClicked: root.gyroClicked()
            onAccClicked: root.accClicked()
            onMagClicked: root.magClicked()
        }

        Page2 {
            id: secondPage
            objectName: "secondPage"
            grid.model: backEnd.registers
        }
    }

    PageIndicator {
        id: indicator
        count: view.count
        currentIndex: view.currentIndex
        anchors.bottom: view.bottom
        anchors.horizontalCenter: root.horizontalCenter
    }
}
