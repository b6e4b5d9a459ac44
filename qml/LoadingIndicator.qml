// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtGraphicalEffects 1.12

// Five dots orbiting the centre, with the calibration progress in the middle.
Item {
    id: root

    property bool playing: true

    // Whole percent, a half rounding up: 37.6 -> "38%".
    function percentText(value) {
        return Math.round(value) + "%"
    }

    Repeater {
        model: 5
        LoadingIndicatorItem {
            id: circle
            width: root.width / 10
            height: root.width / 10

            Connections {
                target: root
                function onPlayingChanged() {
                    if (root.playing)
                        circle.play()
                    else
                        circle.pause()
                }
            }
        }
    }

    Text {
        id: text
        objectName: "progressText"
        anchors.fill: parent
        text: root.percentText(backEnd.progressPercent)
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        // Fonts refuse a size of 0, which the item has before it is laid out.
        font.pixelSize: Math.max(1, root.width / 4)
        wrapMode: Text.WordWrap
        clip: true
    }

    DropShadow {
        anchors.fill: text
        source: text
        horizontalOffset: text.width / 20
        verticalOffset: text.width / 20
        radius: 8
        samples: 17
        color: "#80000000"
    }
}
