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
    property alias scatter: scatterGraph
    // The unit the axes are named with.
    property string unit: ""

    // The box the run's points span so far, [min x, y, z, max x, y, z]; empty
    // before the first. The three axes show one cube around it, so that a
    // sphere looks like a sphere and an ellipsoid shows its true shape.
    property var bounds: []
    readonly property real halfSpan: {
        if (bounds.length < 6)
            return 1
        var half = 0
        for (var i = 0; i < 3; ++i)
            half = Math.max(half, (bounds[i + 3] - bounds[i]) / 2)
        // A margin, so that the outermost points are not on the box's walls.
        return Math.max(half * 1.1, 1e-3)
    }
    function centre(axis) {
        return bounds.length < 6 ? 0 : (bounds[axis] + bounds[axis + 3]) / 2
    }

    // A point of the run, for the axes' range.
    function include(v) {
        var p = [v.x, v.y, v.z]
        var b = bounds.length < 6 ? p.concat(p) : bounds.slice()
        for (var i = 0; i < 3; ++i) {
            b[i] = Math.min(b[i], p[i])
            b[i + 3] = Math.max(b[i + 3], p[i])
        }
        bounds = b
    }

    function clearRange() {
        bounds = []
    }

    // Both ends at once, in the order that never puts min above max.
    function applyRange(axis, centre) {
        var lo = centre - halfSpan
        var hi = centre + halfSpan
        if (lo >= axis.max) {
            axis.max = hi
            axis.min = lo
        } else {
            axis.min = lo
            axis.max = hi
        }
    }
    onBoundsChanged: {
        applyRange(scatterGraph.axisX, centre(0))
        applyRange(scatterGraph.axisY, centre(1))
        applyRange(scatterGraph.axisZ, centre(2))
    }
    Component.onCompleted: boundsChanged()

    // Each visit starts from the same view, as a graph of its own would.
    onVisibleChanged: {
        if (!visible)
            return
        clearRange()
        var camera = scatterGraph.scene.activeCamera
        camera.target = Qt.vector3d(0, 0, 0)
        camera.zoomLevel = 100
        camera.xRotation = 0
        camera.yRotation = 45
    }

    function axisTitle(axis) {
        return unit !== "" ? qsTr("Mag %1 (%2)").arg(axis).arg(unit) : qsTr("Mag %1").arg(axis)
    }

    Scatter3D {
        id: scatterGraph
        objectName: "scatterGraph"
        anchors.fill: parent
        shadowQuality: AbstractGraph3D.ShadowQualitySoftLow
        // One unit is as long on every axis.
        aspectRatio: 1.0
        horizontalAspectRatio: 1.0
        axisX: ValueAxis3D {
            objectName: "scatterAxisX"
            title: root.axisTitle("X")
            titleVisible: true
            labelFormat: "%.2f"
        }
        // The graph's vertical axis carries the module's Y.
        axisY: ValueAxis3D {
            objectName: "scatterAxisY"
            title: root.axisTitle("Y")
            titleVisible: true
            labelFormat: "%.2f"
        }
        axisZ: ValueAxis3D {
            objectName: "scatterAxisZ"
            title: root.axisTitle("Z")
            titleVisible: true
            labelFormat: "%.2f"
        }

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
