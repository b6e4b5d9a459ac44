// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Controls.Material 2.12
import QtQuick.Layouts 1.12

// One register cell: address, name, choices and value. Flashes green when a
// value arrives from the module (on the register page's clock). A writable
// value is sent with Enter; text that the register cannot take is marked red
// and nothing is sent.
Rectangle {
    id: root0

    property var rootModelData: model.modelData
    // The last Enter was refused; cleared by the next edit or arrival.
    property bool invalidInput: false
    // Why the backend refused it.
    property string refusalText: ""

    // The register page's clock, which shows arrivals at a capped rate.
    readonly property var arrivalClock: GridView.view ? GridView.view.arrivalClock : null
    // An arrival waits for the clock's next tick.
    property bool arrivalPending: false
    // When the last arrival was shown, on the clock's time.
    property double flashStart: -1e12

    color: Qt.rgba(0, 0, 0, 0)

    // "0x" and at least two upper-case hexadecimal digits: 5 -> 0x05, 300 -> 0x12C.
    function hexText(value) {
        var digits = Number(value).toString(16).toUpperCase()
        if (digits.length < 2)
            digits = "0" + digits
        return "0x" + digits
    }

    // Two decimals stop fitting the field from here on.
    readonly property real fixedLimit: 1e7

    // A large real in exponent form, with as few digits as still give back the
    // same 32-bit float: 3.4028235e38 for the largest float, -1e25 for -1e25.
    function exponentText(value) {
        var single = Math.fround(value)
        var text = value.toExponential(8)
        for (var digits = 0; digits < 8; ++digits) {
            var shorter = value.toExponential(digits)
            if (Math.fround(Number(shorter)) === single) {
                text = shorter
                break
            }
        }
        return text.replace("e+", "e")
    }

    // The size the value field's text starts from; it only ever shrinks.
    readonly property real basePointSize: Qt.application.font.pointSize > 0
                                          ? Qt.application.font.pointSize : 10

    // Addresses and bytes in decimal rather than hexadecimal (the page's choice).
    readonly property bool decimal: GridView.view ? GridView.view.decimal === true : false

    // The value as the register's display code shows it; bytes in decimal
    // when `decimal` is true. A real that rounds to zero reads "0.00", never
    // "-0.00".
    function formatValue(code, value, decimal) {
        if (value === undefined || value === null)
            return ""
        if (code === 0)
            return decimal === true ? "" + Number(value) : hexText(value)
        if (code === 2) {
            var number = Number(value)
            if (isFinite(number) && Math.abs(number) >= fixedLimit)
                return exponentText(number)
            var text = number.toFixed(2)
            return Number(text) === 0 ? (0).toFixed(2) : text
        }
        return "" + value
    }

    function formattedValue() {
        return rootModelData ? formatValue(rootModelData.modelDataType, rootModelData.data, decimal) : ""
    }

    // True when the module's value is not the one a factory reset writes (as
    // the cell shows it, so a real off by less than a hundredth counts as equal).
    function differsFromDefault(code, value, factoryDefault) {
        if (factoryDefault === undefined || factoryDefault === null
                || value === undefined || value === null)
            return false
        return formatValue(code, value, false) !== formatValue(code, factoryDefault, false)
    }

    readonly property bool changedFromDefault: rootModelData
        ? differsFromDefault(rootModelData.modelDataType, rootModelData.data,
                             rootModelData.factoryDefault)
        : false

    onDecimalChanged: if (!valueText.activeFocus) showModuleValue()

    // Dark text while the green flash is strong, the theme's text otherwise.
    function textColor(enabled) {
        if (root.alpha > 0.4)
            return "black"
        return enabled ? Material.foreground : "#9e9e9e"
    }

    // Assigned rather than bound, so that a value arriving while the user
    // types does not wipe the edit.
    function showModuleValue() {
        valueText.text = formattedValue()
    }

    onRootModelDataChanged: showModuleValue()
    Component.onCompleted: showModuleValue()

    // The last arrival, as the clock shows it at `time`: a flash, and the
    // value unless one is being typed.
    function showArrival(time) {
        flashStart = time
        if (!valueText.activeFocus) {
            invalidInput = false
            showModuleValue()
        }
    }

    function commitEdit() {
        if (!rootModelData || !rootModelData.writeAccess)
            return
        if (backEnd.writeRegisterText(rootModelData.address, valueText.text)) {
            invalidInput = false
            refusalText = ""
            // The read-back that follows puts the module's value in the field.
            valueText.focus = false
            showModuleValue()
        } else {
            refusalText = backEnd.registerWriteError
            invalidInput = true
            refusedOffline = !linkOpen
        }
    }

    // Whether the module is connected; a refusal for want of a connection no
    // longer applies once it is, and its mark goes (the typed text stays, for
    // Enter to send).
    readonly property bool linkOpen: backEnd.connection ? backEnd.connection.linkOpen === true : false
    property bool refusedOffline: false
    onLinkOpenChanged: {
        if (linkOpen && refusedOffline && invalidInput) {
            invalidInput = false
            refusalText = ""
        }
        refusedOffline = false
    }

    Rectangle {
        id: root
        objectName: "cellBackground"

        // Green from an arrival, fading out on the clock's ticks.
        readonly property real alpha: {
            if (!root0.arrivalClock)
                return 0
            var age = root0.arrivalClock.now - root0.flashStart
            return Math.max(0, Math.min(1, 1 - age / root0.arrivalClock.fadeMs))
        }

        anchors.fill: parent
        color: Qt.hsva(0.3, 1, 1, alpha)
        border.color: "#123456"
        radius: height * 0.1
        antialiasing: true

        // Follows the pointer over this cell only.
        HoverHandler {
            id: hoverHandler
        }

        ToolTip.text: root0.rootModelData ? root0.rootModelData.description : ""
        ToolTip.delay: 1000
        ToolTip.timeout: 5000
        ToolTip.visible: hoverHandler.hovered

        RowLayout {
            id: row1
            anchors.fill: parent
            anchors.margins: 5
            spacing: 10

            Text {
                id: textAddress
                objectName: "textAddress"
                Layout.fillWidth: true
                Layout.minimumHeight: 50
                Layout.preferredWidth: root.width * 0.1
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                color: root0.textColor(true)
                text: root0.rootModelData ? (root0.decimal ? "" + root0.rootModelData.address
                                                           : root0.hexText(root0.rootModelData.address))
                                          : ""
            }

            Text {
                id: textName
                objectName: "textName"
                Layout.fillWidth: true
                Layout.minimumHeight: 50
                Layout.preferredWidth: root.width * 0.4
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                color: root0.textColor(true)
                wrapMode: Text.WordWrap
                maximumLineCount: 2
                elide: Text.ElideRight
                text: root0.rootModelData ? root0.rootModelData.registerName : ""
            }

            ComboBox {
                id: choicesComboBox
                objectName: "choicesComboBox"
                Layout.fillWidth: true
                Layout.minimumHeight: 50
                Layout.preferredWidth: root.width * 0.4
                model: root0.rootModelData ? root0.rootModelData.choices : []
                visible: root0.rootModelData ? root0.rootModelData.choicesCount > 0 : false
            }

            Rectangle {
                id: valueTextRect
                objectName: "valueTextRect"
                Layout.fillWidth: true
                Layout.minimumHeight: 50
                Layout.preferredWidth: root.width * 0.6
                color: Qt.hsva(0, 0, 0, 0)
                border.width: root0.invalidInput ? 2 : 0
                border.color: "#ff1744"
                radius: 4
                clip: true

                // Measures the text at the base size, so the field can shrink a
                // long one (a large real, or a long edit) instead of cutting it.
                TextMetrics {
                    id: valueMetrics
                    font.family: valueText.font.family
                    font.pointSize: root0.basePointSize
                    text: valueText.text
                }

                TextInput {
                    id: valueText
                    objectName: "valueText"
                    anchors.fill: parent
                    font.pointSize: root0.basePointSize
                                    * Math.min(1, (width - 4) / Math.max(1, valueMetrics.advanceWidth))
                    horizontalAlignment: TextInput.AlignHCenter
                    verticalAlignment: TextInput.AlignVCenter
                    enabled: root0.rootModelData ? root0.rootModelData.writeAccess : false
                    color: root0.textColor(enabled)
                    selectByMouse: true
                    onAccepted: root0.commitEdit()
                    onTextEdited: root0.invalidInput = false
                    Keys.onEscapePressed: {
                        root0.invalidInput = false
                        root0.showModuleValue()
                        focus = false
                    }
                }

                // Marks a value that a factory reset would change.
                Rectangle {
                    objectName: "changedMark"
                    anchors.left: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.leftMargin: 2
                    width: 8
                    height: 8
                    radius: 4
                    color: "#ffb300"
                    visible: root0.changedFromDefault

                    HoverHandler { id: markHover }
                    ToolTip.visible: markHover.hovered
                    ToolTip.text: root0.rootModelData && visible
                                  ? qsTr("Factory default: %1").arg(root0.formatValue(
                                        root0.rootModelData.modelDataType,
                                        root0.rootModelData.factoryDefault, root0.decimal))
                                  : ""
                }

                // Its own tip rather than the shared one of the cell's
                // description: the reason shows at once, without hovering,
                // until the next edit.
                ToolTip {
                    id: refusalTip
                    objectName: "refusalTip"
                    text: root0.refusalText
                    visible: root0.invalidInput && root0.refusalText !== ""
                    y: -height - 4
                }
            }
        }
    }

    Connections {
        target: root0.rootModelData
        function onDataChanged() {
            if (root0.arrivalClock)
                root0.arrivalClock.arrived(root0)
            else
                root0.showArrival(0)
        }
    }
}
