// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtDataVisualization 1.2
import "components"

// Magnetometer calibration: the user turns the module while the backend
// gathers points into the two scatter series (all points, and the newest in
// red); Finish ends gathering and the backend reports the quality.
CalibrationPage {
    id: root
    sensor: "magnetometer"
    // Coverage, hint, live figures and the fits, beside the scatter.
    sidePanelWidth: Math.min(380, width * 0.38)
    sidePanel: MagGuidePanel { anchors.fill: parent }

    sensorView: Scatter3D {
        id: scatterGraph
        objectName: "scatterGraph"
        anchors.fill: parent
        shadowQuality: AbstractGraph3D.ShadowQualitySoftLow
        // Drawn through the default offscreen buffer, which leaves about 11 MB
        // behind per visit. Drawing straight onto the window avoided that, but
        // the graph then draws on the render thread and crashed now and then as
        // the page went (a null read inside the graph's render slot).
        axisX: ValueAxis3D { autoAdjustRange: true }
        axisY: ValueAxis3D { autoAdjustRange: true }
        axisZ: ValueAxis3D { autoAdjustRange: true }

        Scatter3DSeries {
            id: scatterSeries
            itemLabelFormat: "Mag Data: X:@xLabel Y:@yLabel Z:@zLabel"
            itemSize: 0.2
            meshSmooth: true
            mesh: Abstract3DSeries.MeshSphere
            Component.onCompleted: backEnd.setMagSctr3DSeries(scatterSeries)
        }

        Scatter3DSeries {
            id: scatterSeries2
            itemLabelFormat: "Mag Data: X:@xLabel Y:@yLabel Z:@zLabel"
            itemSize: 0.2
            meshSmooth: true
            mesh: Abstract3DSeries.MeshSphere
            baseColor: "#dd1111"
            Component.onCompleted: backEnd.setMagSctr3DSeries2(scatterSeries2)
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
    }

    Camera3D {
        id: camera
        yRotation: 45
        Component.onCompleted: scatterGraph.scene.activeCamera = camera
    }

    // One turn around the cloud every 36 seconds.
    NumberAnimation {
        target: camera
        property: "xRotation"
        from: 0
        to: 360
        duration: 36000
        easing.type: Easing.Linear
        loops: Animation.Infinite
        running: true
    }
}
