// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtDataVisualization 1.2

// The magnetometer page's cloud: all points gathered, and the newest in red.
// The window keeps one for its whole life and lends it to each visit of the
// page (see GraphSlot), which hands the two series to the backend.
Item {
    id: root

    property alias gathered: scatterSeries
    property alias latest: scatterSeries2

    // Each visit starts from the same view, as a graph of its own would.
    onVisibleChanged: {
        if (!visible)
            return
        var camera = scatterGraph.scene.activeCamera
        camera.target = Qt.vector3d(0, 0, 0)
        camera.zoomLevel = 100
        camera.xRotation = 0
        camera.yRotation = 45
    }

    Scatter3D {
        id: scatterGraph
        objectName: "scatterGraph"
        anchors.fill: parent
        shadowQuality: AbstractGraph3D.ShadowQualitySoftLow
        axisX: ValueAxis3D { autoAdjustRange: true }
        axisY: ValueAxis3D { autoAdjustRange: true }
        axisZ: ValueAxis3D { autoAdjustRange: true }

        Scatter3DSeries {
            id: scatterSeries
            itemLabelFormat: "Mag Data: X:@xLabel Y:@yLabel Z:@zLabel"
            itemSize: 0.2
            meshSmooth: true
            mesh: Abstract3DSeries.MeshSphere
        }

        Scatter3DSeries {
            id: scatterSeries2
            itemLabelFormat: "Mag Data: X:@xLabel Y:@yLabel Z:@zLabel"
            itemSize: 0.2
            meshSmooth: true
            mesh: Abstract3DSeries.MeshSphere
            baseColor: "#dd1111"
        }
    }

    // One turn around the cloud every 36 seconds, while shown.
    NumberAnimation {
        target: scatterGraph.scene.activeCamera
        property: "xRotation"
        from: 0
        to: 360
        duration: 36000
        easing.type: Easing.Linear
        loops: Animation.Infinite
        running: root.visible
    }
}
