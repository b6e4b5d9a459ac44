// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import "components"

// First screen: live data on the first page, the register map on the second,
// noise and stability on the third.
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
            // Off screen behind the register page, the live page draws
            // nothing: its charts stop replotting and its 3D view unloads.
            // It shows again as soon as a swipe towards it starts.
            visible: SwipeView.isCurrentItem || view.contentItem.moving
            // Only while the page can be seen (see the Connections below): a
            // binding would run for every sample, minimised or not.
            onLiveShownChanged: if (liveShown) boxRot = backEnd.qQuat
            // Fed in C++ rather than by bindings: every sample, shown or not,
            // without a trip through JavaScript.
            eulerCustomPlot.source: backEnd
            eulerCustomPlot.sourceProperty: "eulerDataList"
            quatCustomPlot.source: backEnd
            quatCustomPlot.sourceProperty: "quatDataList"
            accCustomPlot.source: backEnd
            accCustomPlot.sourceProperty: "accDataList"
            magCustomPlot.source: backEnd
            magCustomPlot.sourceProperty: "magDataList"
            gyroCustomPlot.source: backEnd
            gyroCustomPlot.sourceProperty: "gyroDataList"
            onGyroClicked: root.gyroClicked()
            onAccClicked: root.accClicked()
            onMagClicked: root.magClicked()
        }

        Page2 {
            id: secondPage
            objectName: "secondPage"
            // Off screen, the register cells neither exist nor flash: each
            // flash is an animation that keeps the window drawing.
            visible: SwipeView.isCurrentItem || view.contentItem.moving
            grid.model: visible ? backEnd.registers : null
        }

        NoisePage {
            id: noisePage
            objectName: "noisePage"
            // Its charts repaint only while shown.
            visible: SwipeView.isCurrentItem || view.contentItem.moving
        }
    }

    Connections {
        target: backEnd
        enabled: firstPage.liveShown
        function onQQuatChanged() {
            firstPage.boxRot = backEnd.qQuat
        }
    }

    LiveShortcuts {
        livePage: firstPage
        pages: view
        // Not while a calibration page covers this screen.
        active: !root.stackView || root.stackView.depth === 1
    }

    PageIndicator {
        id: indicator
        count: view.count
        currentIndex: view.currentIndex
        anchors.bottom: view.bottom
        // --- status strip and ports --- above the live page's status strip
        anchors.bottomMargin: view.currentIndex === 0 && firstPage.footer ? firstPage.footer.height : 0
        anchors.horizontalCenter: root.horizontalCenter
    }
}
