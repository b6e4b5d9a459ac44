// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import CustomPlot 1.0

// A live chart that opens its sensor's calibration page when clicked, except
// while paused, when the chart takes the pointer to zoom and pan.
Item {
    id: root

    property alias plot: plotItem
    property alias plotName: plotItem.objectName
    property alias areaName: area.objectName
    property alias signalNames: plotItem.signalNames
    property alias valueLabel: plotItem.valueLabel
    property alias unit: plotItem.unit
    property alias note: plotItem.note
    property bool paused: false
    signal clicked

    CustomPlotItem {
        id: plotItem
        anchors.fill: parent
        paused: root.paused
    }

    MouseArea {
        id: area
        anchors.fill: parent
        enabled: !root.paused
        onClicked: root.clicked()
    }
}
