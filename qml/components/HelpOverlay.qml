// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// The keyboard and mouse help, over whatever page is shown: F1 opens and
// closes it, so does Esc or a click outside it.
Item {
    id: root

    readonly property alias opened: popup.opened

    ShortcutList {
        id: shortcutList
    }

    function toggle() {
        if (popup.opened)
            popup.close()
        else
            popup.open()
    }

    Shortcut {
        sequence: "F1"
        onActivated: root.toggle()
    }

    Popup {
        id: popup
        objectName: "helpOverlay"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(parent ? parent.width - 40 : 600, 640)
        height: Math.min(parent ? parent.height - 40 : 600, content.implicitHeight + topPadding + bottomPadding)
        modal: true
        focus: true
        padding: 20
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        // A modal popup holds the window's shortcuts back, its own F1 too.
        contentItem: Flickable {
            id: content
            implicitHeight: column.implicitHeight
            contentHeight: column.implicitHeight
            clip: true
            focus: true
            Keys.onPressed: {
                if (event.key === Qt.Key_F1) {
                    root.toggle()
                    event.accepted = true
                }
            }

            Column {
                id: column
                width: content.width
                spacing: 4

                Label {
                    text: qsTr("Keyboard and mouse")
                    font.bold: true
                    font.pixelSize: 20
                    bottomPadding: 8
                }

                Repeater {
                    objectName: "helpLines"
                    model: shortcutList

                    Column {
                        width: column.width
                        // A group's heading above its first line.
                        readonly property bool firstOfGroup: index === 0
                                                             || shortcutList.get(index - 1).group !== model.group

                        Label {
                            visible: parent.firstOfGroup
                            text: model.group
                            font.bold: true
                            topPadding: index === 0 ? 0 : 10
                            bottomPadding: 2
                        }

                        Row {
                            spacing: 16
                            Label {
                                objectName: "helpKeys"
                                width: 200
                                text: model.keys
                                font.family: "monospace"
                            }
                            Label {
                                objectName: "helpAction"
                                width: column.width - 216
                                text: model.action
                                wrapMode: Text.WordWrap
                            }
                        }
                    }
                }
            }
        }
    }
}
