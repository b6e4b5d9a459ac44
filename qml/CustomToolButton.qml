// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12

// A tool button showing an icon-font glyph followed by a caption.
ToolButton {
    id: button

    property string extraText
    property alias symbol: iconText.text

    contentItem: Flow {
        anchors.fill: parent

        Text {
            id: iconText
            font.family: FontAwesome.icons
            font.pointSize: Math.max(1, button.height)
        }

        Text {
            id: text
            text: button.extraText
            font.pointSize: Math.max(1, button.height / 2)
        }
    }
}
