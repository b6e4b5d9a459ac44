// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Window 2.12

// Borderless splash picture, centred on the screen and sized from the screen
// height alone.
Window {
    id: splash

    property int timeoutInterval: 3000

    signal timeout
    signal completed

    title: "Splash Window"
    color: "transparent"
    flags: Qt.SplashScreen
    modality: Qt.ApplicationModal
    width: splashImage.width
    height: splashImage.height
    x: (Screen.width - splashImage.width) / 2
    y: (Screen.height - splashImage.height) / 2

    Image {
        id: splashImage
        source: "qrc:/Graphics/Splash1.png"
        width: Screen.height / 9 * 6
        height: Screen.height / 16 * 6
    }

    Timer {
        interval: splash.timeoutInterval
        running: true
        repeat: false
        onTriggered: {
            splash.visible = false
            splash.timeout()
        }
    }

    Component.onCompleted: {
        visible = true
        console.log("Splash Done!")
        completed()
    }
}
