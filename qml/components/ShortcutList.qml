// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// Every key and gesture the help overlay (F1) lists, in the order shown. A
// control that gets a shortcut adds its line here.
ListModel {
    ListElement { group: "Keyboard"; keys: "F1"; action: "Show or hide this help" }
    ListElement { group: "Keyboard"; keys: "Ctrl+K"; action: "Connect to the selected port, or disconnect" }
    ListElement { group: "Keyboard"; keys: "F5"; action: "Refresh the port list" }
    ListElement { group: "Keyboard"; keys: "Space"; action: "Pause or resume the charts" }
    ListElement { group: "Keyboard"; keys: "Ctrl+E"; action: "Export all five charts as PNG and CSV" }
    ListElement { group: "Keyboard"; keys: "Ctrl+R"; action: "Start or stop recording (any page)" }
    ListElement { group: "Keyboard"; keys: "Ctrl+1"; action: "Live page" }
    ListElement { group: "Keyboard"; keys: "Ctrl+2"; action: "Register page" }
    ListElement { group: "Keyboard"; keys: "Ctrl+3"; action: "Noise page: Allan deviation, N, B, K, spectrum" }
    ListElement { group: "Keyboard"; keys: "Esc"; action: "Close this help" }
    ListElement { group: "Mouse on a paused chart"; keys: "Wheel"; action: "Zoom the time axis about the pointer" }
    ListElement { group: "Mouse on a paused chart"; keys: "Ctrl+Wheel"; action: "Zoom the value axis about the pointer" }
    ListElement { group: "Mouse on a paused chart"; keys: "Drag"; action: "Move the view" }
    ListElement { group: "Mouse on a paused chart"; keys: "Double-click"; action: "Back to the whole paused window" }
    ListElement { group: "Mouse"; keys: "Click on a sensor chart"; action: "Open its calibration (not while paused)" }
}
