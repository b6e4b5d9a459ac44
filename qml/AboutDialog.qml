// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

// Who made the program, which version runs, and under which licences it and
// the software it is built on may be used and passed on.
Dialog {
    id: dialog
    objectName: "aboutDialog"

    title: "About Velmar IMU"
    modal: true
    // Takes the keyboard, so that Escape closes it.
    focus: true
    standardButtons: Dialog.Close
    width: Math.min(560, parent ? parent.width - 40 : 560)
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? Math.max(20, (parent.height - height) / 2) : 0

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        RowLayout {
            spacing: 16

            Image {
                source: "qrc:/Graphics/ICON.png"
                sourceSize.width: 72
                sourceSize.height: 72
            }

            ColumnLayout {
                Label {
                    text: "Velmar IMU"
                    font.pixelSize: 22
                    font.bold: true
                }
                Label {
                    objectName: "aboutVersion"
                    text: "Version " + Qt.application.version
                }
                Label {
                    text: "Copyright \u00a9 2026 The Velmar IMU developers"
                    opacity: 0.8
                }
            }
        }

        Label {
            objectName: "aboutLicence"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            text: "Free software under the GNU General Public License, version 3 or "
                  + "(at your option) any later version (GPL-3.0-or-later). "
                  + "It comes with ABSOLUTELY NO WARRANTY."
        }

        Label {
            text: "Built with"
            font.bold: true
        }

        Label {
            objectName: "aboutThirdParty"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            textFormat: Text.StyledText
            text: "<b>Qt 5</b>: The Qt Company Ltd. and others; LGPL-3.0 (or GPL-2.0-or-later).<br>"
                  + "<b>QCustomPlot</b>: Emanuel Eichhammer; GPL-3.0-or-later.<br>"
                  + "<b>Font Awesome Free 5</b> icon fonts: Fonticons, Inc.; SIL Open Font License 1.1."
        }

        Label {
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            opacity: 0.8
            text: "The full texts come with the package, in /usr/share/doc/velmar-imu/copyright."
        }
    }
}
