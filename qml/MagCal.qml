// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import CustomPlot 1.0
import "components"

// Magnetometer calibration: the user turns the module while the backend
// gathers points into the two scatter series (all points, and the newest in
// red); Finish ends gathering and the backend reports the quality.
CalibrationPage {
    id: root
    sensor: "magnetometer"
    // Coverage, hint, live figures and the heading check beside the scatter;
    // the fits and Report under it, as tall as they need, up to half the page.
    sidePanelWidth: Math.min(380, width * 0.45)
    sidePanel: MagGuidePanel { anchors.fill: parent }
    viewFooterHeight: Math.min(fitPanel.implicitHeight, height * 0.5)
    viewFooter: MagFitPanel {
        id: fitPanel
        anchors.fill: parent
    }

    // The window's one cloud graph (MagScatter.qml), lent to this visit: a
    // graph made per visit kept about 11 MB of its offscreen drawing each time.
    sensorView: GraphSlot {
        id: scatterSlot
        objectName: "scatterSlot"
        anchors.fill: parent
        source: "qrc:/MagScatter.qml"
        onGraphChanged: {
            if (graph) {
                graph.unit = Qt.binding(function () { return backEnd.magUnit })
                backEnd.setMagSctr3DSeries(graph.gathered)
                backEnd.setMagSctr3DSeries2(graph.latest)
            }
        }
    }

    onCalStateEntered: {
        switch (calState) {
        case 0:
            buttonBack.enabled = true
            buttonStart.text = "Start"
            buttonStart.enabled = true
            break
        case 1:
            buttonBack.enabled = false
            // A new run's cloud gets axes of its own.
            if (scatterSlot.graph)
                scatterSlot.graph.clearRange()
            backEnd.magCalButton()
            buttonStart.text = "Finish"
            buttonStart.enabled = true
            banner.show("Rotate Along All Axis. Until Sphere is Complete")
            break
        case 2:
            backEnd.magCalButton()
            buttonStart.text = "Start"
            buttonStart.enabled = true
            calState = 0
            break
        }
    }

    Connections {
        target: backEnd
        function onMagCalFinished(quality) {
            root.calFinished(quality)
        }
        function onMagDataListChanged() {
            root.sampleArrived()
        }
        // The points the run gathers set the cube the axes show.
        function onMagVect3Changed() {
            if (root.calState === 1 && scatterSlot.graph)
                scatterSlot.graph.include(backEnd.magVect3)
        }
    }
}
