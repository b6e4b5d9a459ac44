// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import QtQuick.Layouts 1.12
import QtQuick.Window 2.12
import CustomPlot 1.0
import "components" // --- status strip and ports ---

// Live data: port controls, the turning module with its roll/pitch/yaw
// readout, and five charts. Three of the charts open their sensor's
// calibration page when clicked.
Page {
    id: pageRoot

    property StackView stackView
    property alias quatCustomPlot: quatCustomPlot
    property alias eulerCustomPlot: eulerCustomPlot
    property alias accCustomPlot: accChart.plot
    property alias gyroCustomPlot: gyroChart.plot
    property alias magCustomPlot: magChart.plot
    property alias chartToolbar: chartToolbar
    // Said on every chart when samples the link took did not all become points.
    readonly property string samplesNote: backEnd.connection && backEnd.connection.samplesNotShown > 0
        ? qsTr("%1 samples not shown").arg(backEnd.connection.samplesNotShown) : ""
    // The 3D view lives only while this page is shown (see scene3dLoader), so
    // these are plain properties that the view binds to, not aliases into it.
    // Not followed while the page cannot be seen, so that hidden it costs
    // nothing per sample; it catches up on showing.
    readonly property var ahrsAuxVect: liveShown ? backEnd.magVect3 : Qt.vector3d(0, 0, 0)
    property quaternion boxRot: Qt.quaternion(1, 0, 0, 0)

    // What the 3D box and the roll/pitch/yaw readout show. On hardware OpenGL
    // they follow every sample. On a software renderer every frame costs CPU,
    // so they change with the charts' shared tick (each replot of the Euler
    // chart), and the box turns only when the module turned by more than
    // RenderPolicy.minTurnDegrees. Nothing changes while the page cannot be
    // seen; it catches up when it shows again.
    property quaternion shownRot: Qt.quaternion(1, 0, 0, 0)
    property var shownEuler: []
    property var shownMag: []
    readonly property bool liveShown: visible && Window.visibility !== Window.Minimized
                                      && Window.visibility !== Window.Hidden

    // Angle in degrees of the turn from a to b (unit quaternions).
    function turnDegrees(a, b) {
        var dot = Math.abs(a.scalar * b.scalar + a.x * b.x + a.y * b.y + a.z * b.z)
        return 2 * Math.acos(Math.min(1, dot)) * 180 / Math.PI
    }

    function showSample(everyTurn) {
        if (!liveShown)
            return
        if (everyTurn || turnDegrees(shownRot, boxRot) > RenderPolicy.minTurnDegrees)
            shownRot = boxRot
        shownEuler = backEnd.eulerDataList
        shownMag = backEnd.magDataList
    }

    onBoxRotChanged: if (!RenderPolicy.software) showSample(true)
    onLiveShownChanged: showSample(true)
    Component.onCompleted: showSample(true)

    // Why the last connection attempt failed or the link was lost; empty when
    // there is nothing to report.
    property string connectionErrorText: ""
    // The link of the present connection opened: its end is a loss, not a
    // failure. Cleared by Connect, Disconnect and the error that ends it.
    property bool linkWorked: false
    readonly property bool linkOpen: backEnd.connection ? backEnd.connection.linkOpen === true : false
    onLinkOpenChanged: if (linkOpen && connectButton.isConnect) linkWorked = true

    // Why the last Reset Defaults wrote nothing (its backup could not be saved).
    property string resetRefusedText: ""

    signal accClicked
    signal gyroClicked
    signal magClicked

    // "Roll:12.3°" for 12.345 in degrees; empty while the angle is missing or
    // not a number. Rounds halves towards positive infinity, so -0.04 reads 0.
    function readoutText(label, value, unit) {
        if (value === undefined || value === null || isNaN(value))
            return ""
        return label + Math.round(value * 10) / 10 + (unit === undefined ? "" : unit)
    }

    // "Mag:0.51 gauss": the field's strength to two decimals, in the unit the
    // backend names from what the module holds (as the chart does); empty
    // while a component is missing or not a number.
    function magReadoutText(values, unit) {
        if (!values || values.length < 3)
            return ""
        var sum = 0
        for (var i = 0; i < 3; ++i) {
            if (values[i] === undefined || values[i] === null || isNaN(values[i]))
                return ""
            sum += values[i] * values[i]
        }
        return qsTr("Mag:") + Math.sqrt(sum).toFixed(2) + " " + unit
    }

    function setConnectedLook(connected) {
        connectButton.isConnect = connected
        connectButton.text = connected ? "Disconnect" : "Connect"
        serialComboBox.enabled = !connected
        resetButton.visible = connected
    }

    function toggleConnection() {
        // --- status strip and ports --- a typed path is listed and picked first.
        if (!connectButton.isConnect && serialComboBox.editText !== serialComboBox.currentText
                && !useTypedPort())
            return
        // Without a port there is nothing to connect to; the banner says so.
        if (!connectButton.isConnect && (serialComboBox.count === 0 || serialComboBox.currentIndex < 0))
            return
        if (!connectButton.isConnect) // --- status strip and ports ---
            backEnd.connection.selectIndex(serialComboBox.currentIndex)
        connectionErrorText = ""
        linkWorked = false
        backEnd.connectClicked(serialComboBox.currentIndex)
        setConnectedLook(!connectButton.isConnect)
    }

    // The port list as the system has it now; not while connected, when the
    // list stands still.
    function refreshPorts() {
        if (refreshButton.visible)
            refreshButton.clicked()
    }

    // --- status strip and ports ---
    // Lists and picks what was typed into the port box; false if there is no such device.
    function useTypedPort() {
        var index = backEnd.connection.usePath(serialComboBox.editText)
        if (index >= 0)
            serialComboBox.currentIndex = index
        return index >= 0
    }

    footer: StatusStrip { }

    Connections {
        target: backEnd.connection
        function onSelectedIndexChanged() {
            serialComboBox.currentIndex = backEnd.connection.selectedIndex
        }
        // The same module came back on its port and is connected again.
        function onReconnected(port) {
            pageRoot.connectionErrorText = ""
            pageRoot.setConnectedLook(true)
        }
    }

    // --connect: pressed once, when the page is complete.
    Item {
        Component.onCompleted: if (backEnd.connection.takeConnectOnStart())
                                   Qt.callLater(pageRoot.toggleConnection)
    }
    // --- end status strip and ports ---

    function statusText() {
        // Said once: the status strip's warning notice already tells of the
        // lost link (and offers what can be done about it).
        if (connectionErrorText !== "" && !(backEnd.connection.noticeIsWarning
                                            && backEnd.connection.notice !== ""))
            return connectionErrorText
        if (resetRefusedText !== "")
            return resetRefusedText
        if (!connectButton.isConnect && serialComboBox.count === 0)
            return qsTr("No serial port found. Plug in the module and press Refresh.")
        return ""
    }

    Connections {
        target: backEnd
        // Not while the page cannot be seen: showing again catches up.
        enabled: !RenderPolicy.software && pageRoot.liveShown
        function onEulerDataListChanged() {
            pageRoot.showSample(true)
        }
    }

    Connections {
        target: eulerCustomPlot
        enabled: RenderPolicy.software
        // Also while the charts are paused: the readout and the box go on.
        function onTicked() {
            pageRoot.showSample(false)
        }
    }

    Connections {
        target: backEnd
        // The backend has already dropped the link; only the controls follow.
        function onConnectionError(portName, reason) {
            // A link that had opened and then went is lost; one that never
            // opened failed.
            var lost = pageRoot.linkWorked
            pageRoot.linkWorked = false
            if (lost)
                pageRoot.connectionErrorText = portName !== ""
                        ? qsTr("Connection to %1 lost: %2").arg(portName).arg(reason)
                        : qsTr("Connection lost: %1").arg(reason)
            else
                pageRoot.connectionErrorText = portName !== ""
                        ? qsTr("Connection to %1 failed: %2").arg(portName).arg(reason)
                        : qsTr("Connection failed: %1").arg(reason)
            pageRoot.setConnectedLook(false)
        }
    }

    // Widths that do not follow the captions: Connect/Disconnect and
    // Record/Stop keep the width of their longer caption, the port list takes
    // a fixed share of the row, and what the record bar shows while recording
    // grows into the free space before the last slot. So nothing moves under
    // the pointer when a caption or a state changes.
    RowLayout {
        id: topRow
        objectName: "topRow"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: scene3dPlaceHolder.left
        spacing: 0

        ComboBox {
            id: serialComboBox
            objectName: "serialComboBox"
            Layout.fillHeight: true
            // Its share of the row, whatever the other controls show.
            readonly property real steadyWidth: Math.max(100, topRow.width * 0.25)
            Layout.preferredWidth: steadyWidth
            Layout.minimumWidth: steadyWidth
            Layout.maximumWidth: steadyWidth
            // --- status strip and ports --- follows devices; keeps the pick by name;
            // a path can be typed.
            model: backEnd.connection.ports
            editable: true
            onActivated: backEnd.connection.selectIndex(index)
            onModelChanged: currentIndex = backEnd.connection.selectedIndex
            onAccepted: pageRoot.useTypedPort()

            // Each port with what the system knows of it under its name; a
            // path (a simulator's link) has nothing more than the path.
            popup.width: Math.max(width, 460)
            delegate: ItemDelegate {
                id: portEntry
                objectName: "portEntry_" + index
                width: serialComboBox.popup.width
                highlighted: serialComboBox.highlightedIndex === index
                readonly property string detail: backEnd.connection.portDetails[index] || ""
                contentItem: Column {
                    Label {
                        width: parent.width
                        text: modelData
                        elide: Text.ElideMiddle
                    }
                    Label {
                        objectName: "portDetail"
                        width: parent.width
                        visible: text !== ""
                        text: portEntry.detail
                        elide: Text.ElideRight
                        font.pixelSize: 12
                        opacity: 0.7
                    }
                }
            }
        }

        Button {
            id: connectButton
            objectName: "connectButton"
            property bool isConnect: false
            Layout.fillHeight: true
            readonly property real steadyWidth: Math.max(connectCaption.advanceWidth,
                                                         disconnectCaption.advanceWidth)
                                                + leftPadding + rightPadding
            Layout.preferredWidth: steadyWidth
            Layout.minimumWidth: steadyWidth
            // --- status strip and ports --- not while a returning module is being checked
            enabled: !backEnd.connection.checkingModule
            text: "Connect"
            onClicked: pageRoot.toggleConnection()

            TextMetrics {
                id: connectCaption
                font: connectButton.font
                text: "Connect"
            }
            TextMetrics {
                id: disconnectCaption
                font: connectButton.font
                text: "Disconnect"
            }
        }

        RecordBar {
            Layout.fillHeight: true
            Layout.fillWidth: true
        }

        // Apart from Connect and Record, after a gap and a rule: Reset
        // Defaults erases the calibrations. Refresh shares the slot (it is
        // shown only while disconnected, Reset Defaults only while connected),
        // which is as wide as the wider of the two.
        Rectangle {
            objectName: "topRowRule"
            Layout.leftMargin: 12
            Layout.rightMargin: 6
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            Layout.topMargin: 8
            Layout.bottomMargin: 8
            color: "#616161"
        }

        Item {
            id: lastSlot
            objectName: "topRowLastSlot"
            Layout.fillHeight: true
            Layout.preferredWidth: Math.max(resetButton.implicitWidth, refreshButton.implicitWidth)

            Button {
                id: resetButton
                objectName: "resetButton"
                anchors.fill: parent
                text: "Reset Defaults"
                visible: false
                Material.foreground: "#ef5350"
                onClicked: resetDefaultsDialog.open()
            }

            Button {
                id: refreshButton
                objectName: "refreshButton"
                anchors.fill: parent
                text: "Refresh"
                visible: !resetButton.visible
                onClicked: backEnd.connection.refresh() // --- status strip and ports ---
            }
        }
    }

    Rectangle {
        id: scene3dPlaceHolder
        anchors.top: parent.top
        anchors.right: parent.right
        width: parent.width / 3
        height: parent.height / 3

        OrientationView {
            anchors.fill: parent
            orientation: pageRoot.shownRot
            liveShown: pageRoot.liveShown
            rollText: pageRoot.readoutText(qsTr("Roll:"), pageRoot.shownEuler[0], "°")
            pitchText: pageRoot.readoutText(qsTr("Pitch:"), pageRoot.shownEuler[1], "°")
            yawText: pageRoot.readoutText(qsTr("Yaw:"), pageRoot.shownEuler[2], "°")
            magText: pageRoot.magReadoutText(pageRoot.shownMag, backEnd.magUnit)
        }
    }

    Rectangle {
        id: mainChartPlaceHolder
        anchors.top: topRow.bottom
        anchors.bottom: scene3dPlaceHolder.bottom
        anchors.left: parent.left
        anchors.right: scene3dPlaceHolder.left

        CustomPlotItem {
            id: eulerCustomPlot
            objectName: "eulerCustomPlot"
            anchors.fill: parent
            signalNames: ["Roll", "Pitch", "Yaw"]
            valueLabel: qsTr("Angle")
            unit: "°"
            paused: chartToolbar.paused
            note: pageRoot.samplesNote
        }
    }

    // Over the top of the main chart, below the port controls.
    StatusBanner {
        id: statusBanner
        objectName: "statusBanner"
        anchors.top: topRow.bottom
        anchors.left: parent.left
        anchors.right: scene3dPlaceHolder.left
        failure: text !== "" && (text === pageRoot.connectionErrorText
                                 || text === pageRoot.resetRefusedText)
        text: pageRoot.statusText()
        z: 1
    }

    DataProblemBanner {
        anchors.top: statusBanner.visible ? statusBanner.bottom : topRow.bottom
        anchors.left: parent.left
        anchors.right: scene3dPlaceHolder.left
        z: 1
    }

    ResetDefaultsDialog {
        id: resetDefaultsDialog
        onConfirmed: {
            // No backup, no reset: the backend says why and sends nothing.
            if (backEnd.resetDefaults() === false) {
                pageRoot.resetRefusedText = backEnd.resetDefaultsError
                return
            }
            pageRoot.resetRefusedText = ""
            backEnd.requestAllData()
            backEnd.requestChartData()
        }
    }

    ChartToolbar {
        id: chartToolbar
        objectName: "chartToolbar"
        anchors.top: scene3dPlaceHolder.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        charts: [
            { item: eulerCustomPlot, file: "angles", title: qsTr("Euler angles") },
            { item: quatCustomPlot, file: "quaternion", title: qsTr("Quaternion") },
            { item: accCustomPlot, file: "accelerometer", title: qsTr("Accelerometer") },
            { item: gyroCustomPlot, file: "gyroscope", title: qsTr("Gyroscope") },
            { item: magCustomPlot, file: "magnetometer", title: qsTr("Magnetometer") }
        ]
    }

    Rectangle {
        id: subChartsPlaceHolder
        anchors.top: chartToolbar.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 12

        GridLayout {
            anchors.fill: parent
            rows: 2
            columns: 2

            CustomPlotItem {
                id: quatCustomPlot
                objectName: "quatCustomPlot"
                Layout.fillWidth: true
                Layout.fillHeight: true
                signalNames: ["Quat_0", "Quat_1", "Quat_2", "Quat_3"]
                valueLabel: qsTr("Unit quaternion")
                paused: chartToolbar.paused
                note: pageRoot.samplesNote
            }

            SensorChart {
                id: accChart
                Layout.fillWidth: true
                Layout.fillHeight: true
                plotName: "accCustomPlot"
                areaName: "accMouseArea"
                signalNames: ["Acc_X", "Acc_Y", "Acc_Z"]
                valueLabel: qsTr("Acceleration")
                unit: "m/s²"
                paused: chartToolbar.paused
                note: pageRoot.samplesNote
                onClicked: pageRoot.accClicked()
            }

            SensorChart {
                id: gyroChart
                Layout.fillWidth: true
                Layout.fillHeight: true
                plotName: "gyroCustomPlot"
                areaName: "gyroMouseArea"
                signalNames: ["Gyro_X", "Gyro_Y", "Gyro_Z"]
                valueLabel: qsTr("Angular rate")
                unit: "°/s"
                paused: chartToolbar.paused
                note: pageRoot.samplesNote
                onClicked: pageRoot.gyroClicked()
            }

            SensorChart {
                id: magChart
                Layout.fillWidth: true
                Layout.fillHeight: true
                plotName: "magCustomPlot"
                areaName: "magMouseArea"
                signalNames: ["Mag_X", "Mag_Y", "Mag_Z"]
                valueLabel: qsTr("Magnetic field")
                unit: backEnd.magUnit
                paused: chartToolbar.paused
                note: pageRoot.samplesNote
                onClicked: pageRoot.magClicked()
            }
        }
    }

    // What became of a calibration whose page is gone (left with Back before the
    // module had answered), and the restores offered for a run that a lost
    // connection cut off. A page still open shows its own outcome.
    property string calibrationOutcomeText: ""

    Connections {
        target: backEnd
        function onCalibrationFailed(sensor, message) {
            if (!pageRoot.stackView || pageRoot.stackView.depth <= 1)
                pageRoot.calibrationOutcomeText = message
        }
        function onCalibrationNotice(sensor, message) {
            pageRoot.calibrationOutcomeText = message
        }
    }

    CalibrationNotes {
        id: calibrationNotes
        objectName: "calibrationNotes"
        anchors.top: topRow.bottom
        anchors.topMargin: statusBanner.visible ? statusBanner.height : 0
        anchors.left: parent.left
        anchors.right: scene3dPlaceHolder.left
        z: 1
        outcomeText: pageRoot.calibrationOutcomeText
        onDismissed: pageRoot.calibrationOutcomeText = ""
    }
}
