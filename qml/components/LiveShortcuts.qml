// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// The first screen's keys (listed in ShortcutList.qml for the help). Active
// only while that screen is shown, not under a calibration page. A text field
// with the focus keeps its keys: Space there types a space.
Item {
    id: root

    // The live page (Page1) and the swipe view holding it, the register page
    // and the noise page.
    property Item livePage
    property SwipeView pages
    property bool active: true

    readonly property bool liveShown: active && pages !== null && pages.currentIndex === 0

    Shortcut {
        sequence: "Space"
        enabled: root.liveShown
        onActivated: root.livePage.chartToolbar.togglePause()
    }

    Shortcut {
        sequence: "Ctrl+E"
        enabled: root.liveShown
        onActivated: root.livePage.chartToolbar.exportAll()
    }

    Shortcut {
        sequence: "Ctrl+K"
        enabled: root.active
        onActivated: root.livePage.toggleConnection()
    }

    Shortcut {
        sequence: "F5"
        enabled: root.active
        onActivated: root.livePage.refreshPorts()
    }

    Shortcut {
        sequence: "Ctrl+1"
        enabled: root.active
        onActivated: root.pages.currentIndex = 0
    }

    Shortcut {
        sequence: "Ctrl+2"
        enabled: root.active
        onActivated: root.pages.currentIndex = 1
    }

    Shortcut {
        sequence: "Ctrl+3"
        enabled: root.active
        onActivated: root.pages.currentIndex = 2
    }
}
