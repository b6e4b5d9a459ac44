// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12

// Hosts one calibration page as the main window does: a loader, pushed on the
// navigation stack once its page has loaded.
ApplicationWindow {
    id: host
    width: 1024
    height: 768
    visible: true
    color: "#1f1f1f"
    Material.theme: Material.Dark
    Material.accent: Material.Purple

    property alias pageSource: pageLoader.source
    property alias pageLoader: pageLoader
    property alias stack: stack

    Loader {
        id: pageLoader
        active: false
        onLoaded: {
            item.stackView = stack
            item.myLoader = pageLoader
            stack.push(pageLoader)
        }
    }

    StackView {
        id: stack
        anchors.fill: parent
        initialItem: Item {}
    }
}
