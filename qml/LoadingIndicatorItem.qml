// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtGraphicalEffects 1.12

// One dot of the loading indicator. Every 600 ms it swings by a random step
// of up to a full turn either way around its parent's centre.
Item {
    id: root

    property real angularPos: 2 * Math.PI * Math.random()
    property real baseLength: parent ? Math.min(parent.width, parent.height) : 0

    anchors.centerIn: parent
    anchors.horizontalCenterOffset: Math.sin(angularPos) * baseLength / 2
    anchors.verticalCenterOffset: Math.cos(angularPos) * baseLength / 2

    Behavior on angularPos {
        NumberAnimation { duration: 600; easing.type: Easing.InOutExpo }
    }

    function play() {
        timer.repeat = true
        timer.running = true
        timer.start()
    }

    function pause() {
        timer.repeat = false
        timer.running = false
        timer.stop()
    }

    Timer {
        id: timer
        interval: 600
        running: true
        repeat: true
        onTriggered: root.angularPos = root.angularPos + Math.random() * 4 * Math.PI - 2 * Math.PI
    }

    Rectangle {
        id: circle
        anchors.fill: parent
        radius: width / 2
        color: "#1111ee"
    }

    DropShadow {
        anchors.fill: circle
        source: circle
        horizontalOffset: circle.width / 5
        verticalOffset: circle.width / 5
        radius: 8
        samples: 17
        color: "#80000000"
    }
}
