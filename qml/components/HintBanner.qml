// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// The hint banner of a calibration page. It fades in, stays for the hold time
// (3 s, or 20 s for what the user must not miss) and fades out. A hint crosses
// the middle of the page; a result or a fault, which stays long, sits docked
// in the place the page makes for it (dockY, dockHeight), so that it covers
// neither the chart nor the fit list while the user reads them.
Rectangle {
    id: banner
    objectName: "hintRect"
    // Over the sensor view and the progress dots, which a page declares later.
    z: 1
    // Set by showLong, cleared by show.
    property bool docked: false
    property real dockY: 0
    property real dockHeight: 64
    x: 0
    y: docked ? dockY : (parent.height - height) / 2
    width: parent.width
    height: docked ? dockHeight : parent.height * 0.2
    color: "#11aabb"
    opacity: 0

    // The hold time is up; the banner fades out next.
    signal expired()

    function show(message) {
        docked = false
        hintText.text = message
        showHint.start()
    }

    // Results and faults stay up for 20 s, the time of a result, docked.
    function showLong(message) {
        show(message)
        docked = true
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
        anchors.margins: banner.docked ? 4 : 0
        font.pixelSize: banner.docked ? 16 : Math.max(1, banner.height * 0.3)
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
