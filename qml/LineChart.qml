// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtCharts 2.2

// A two-page chart sketch; no page of the interface places it.
Item {
    id: root
    clip: true

    SwipeView {
        id: view
        anchors.fill: parent
        currentIndex: 1

        Page {
            ChartView {
                anchors.fill: parent
                backgroundColor: "#00b2c3"
            }
        }

        Page {
            Rectangle {
                anchors.fill: parent
                color: "#c3b200"
            }
        }
    }

    PageIndicator {
        count: view.count
        currentIndex: view.currentIndex
        anchors.bottom: view.bottom
        anchors.horizontalCenter: root.horizontalCenter
    }
}
