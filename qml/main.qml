// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Window 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import "components"

// Root of the interface: the splash window first, then the application window,
// which is created hidden when the splash has completed and shown when the
// splash times out.
QtObject {
    id: objectRoot

    property var splashWindow: Loader {
        id: splashLoader
        active: true
        sourceComponent: Splash {
            id: splashScreen
            onCompleted: rootLoader.active = true
            onTimeout: {
                if (rootLoader.item)
                    rootLoader.item.visible = true
                splashLoader.active = false
                objectRoot.splashWindow = null
            }
        }
    }

    property var appWindow: Loader {
        id: rootLoader
        active: false
        onActiveChanged: console.log("ActiveChanged ", rootLoader.active)
        sourceComponent: ApplicationWindow {
            id: root
            width: 1024
            height: 768
            minimumWidth: 800
            minimumHeight: 600
            title: "Velmar IMU"
            visible: false
            color: "#1f1f1f"
            Material.theme: Material.Dark
            Material.accent: Material.Purple

            Component.onCompleted: {
                console.log("Main Window Root Done!")
                // Where it was last closed, before it first shows.
                backEnd.viewSettings.manageWindow(root)
            }

            Loader {
                id: gyroLoader
                objectName: "gyroLoader"
                active: false
                sourceComponent: GyroscopeCal {
                    id: gyroscopeCal
                    stackView: mainStackView
                    myLoader: gyroLoader
                }
                onLoaded: {
                    mainStackView.push(gyroLoader)
                    backEnd.requestGyroOnly()
                }
            }

            Loader {
                id: accLoader
                objectName: "accLoader"
                active: false
                sourceComponent: AccCal {
                    id: accCal
                    stackView: mainStackView
                    myLoader: accLoader
                }
                onLoaded: {
                    mainStackView.push(accLoader)
                    backEnd.requestAccOnly()
                }
            }

            Loader {
                id: magLoader
                objectName: "magLoader"
                active: false
                sourceComponent: MagCal {
                    id: magCal
                    stackView: mainStackView
                    myLoader: magLoader
                }
                onLoaded: {
                    mainStackView.push(magLoader)
                    backEnd.requestMagOnly()
                }
            }

            StackView {
                id: mainStackView
                objectName: "mainStackView"
                anchors.fill: parent
                initialItem: DataPage {
                    objectName: "dataPage"
                    stackView: mainStackView
                    onGyroClicked: gyroLoader.active = true
                    onAccClicked: accLoader.active = true
                    onMagClicked: magLoader.active = true
                }

                pushEnter: Transition {
                    PropertyAnimation { property: "opacity"; from: 0; to: 1; duration: 200 }
                }
                pushExit: Transition {
                    PropertyAnimation { property: "opacity"; from: 1; to: 0; duration: 200 }
                }
                popEnter: Transition {
                    PropertyAnimation { property: "opacity"; from: 0; to: 1; duration: 200 }
                }
                popExit: Transition {
                    PropertyAnimation { property: "opacity"; from: 1; to: 0; duration: 200 }
                }
            }

            // Over the top-right corner, which neither page's bar uses; hidden
            // while a calibration has the screen. A raised button, since the
            // 3D view under it can be light or dark.
            Button {
                objectName: "aboutButton"
                anchors.top: parent.top
                anchors.right: parent.right
                anchors.rightMargin: 4
                text: "About"
                visible: mainStackView.depth === 1
                onClicked: aboutDialog.open()
            }

            AboutDialog {
                id: aboutDialog
            }

            // Record and Stop from every page, as the live page's button does.
            Shortcut {
                objectName: "recordShortcut"
                sequence: "Ctrl+R"
                onActivated: backEnd.recording.toggle()
            }

            HelpOverlay {
                objectName: "helpOverlayHost"
            }
        }
    }
}
