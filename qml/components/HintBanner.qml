// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// The hint banner across the middle of a calibration page. It fades in, stays
// for the hold time (3 s, or 20 s for what the user must not miss) and fades out.
Rectangle {
    id: banner
    objectName: "hintRect"
    // Over the sensor view and the progress dots, which a page declares later.
    z: 1
    anchors.centerIn: parent
    width: parent.width
    height: parent.height * 0.2
    color: "#11aabb"
    opacity: 0

    // The hold time is up; the banner fades out next.
    signal expired()

    function show(message) {
        hintText.text = message
        showHint.start()
    }

    // Results and faults stay up for 20 s, the time of a result.
    function showLong(message) {
        show(message)
        reset.interval = 20000
    }

    function hide() {
        hideHint.start()
    }

    function restartTimer() {
        reset.restart()
    }

    // A click takes it away at once, uncovering what is under it; only while
    // it shows, so that it never takes the clicks of the view beneath.
    MouseArea {
        objectName: "hintDismiss"
        anchors.fill: parent
        enabled: banner.opacity > 0.5
        onClicked: banner.hide()
    }

    Text {
        id: hintText
        objectName: "hintText"
        anchors.fill: parent
        text: qsTr("Hint")
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.pixelSize: Math.max(1, banner.height * 0.3)
        wrapMode: Text.WordWrap
    }

    NumberAnimation {
        id: hideHint
        target: banner
        property: "opacity"
        to: 0
        duration: 500
        easing.type: Easing.InOutQuad
    }

    NumberAnimation {
        id: showHint
        target: banner
        property: "opacity"
        to: 0.7
        duration: 500
        easing.type: Easing.InOutQuad
        onFinished: reset.restart()
    }

    Timer {
        id: reset
        objectName: "resetTimer"
        interval: 3000
        running: false
        repeat: false
        onTriggered: {
            banner.expired()
            hideHint.start()
            reset.interval = 3000
        }
    }
}
