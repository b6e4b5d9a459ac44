// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import ".."

// The loading indicator with the calibration progress, centred on the page and
// hidden until a run gathers samples.
LoadingIndicator {
    objectName: "loading"
    anchors.centerIn: parent
    width: Math.min(parent.width / 4, parent.height / 4)
    height: width
    visible: false
}
