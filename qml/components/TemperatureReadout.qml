// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// The module's temperature, from its "Temperature" register (decoded in °C);
// empty until the module has sent one.
Text {
    id: root

    // The register objects to find it among.
    property var registers: backEnd.registers
    readonly property var source: {
        if (!registers)
            return null
        for (var i = 0; i < registers.length; ++i) {
            if (registers[i] && registers[i].registerName === "Temperature")
                return registers[i]
        }
        return null
    }

    function temperatureText(register) {
        if (!register || !register.updated)
            return ""
        var celsius = Number(register.data)
        if (isNaN(celsius))
            return ""
        return qsTr("Temperature:") + celsius.toFixed(1) + " °C"
    }

    text: temperatureText(source)
}
