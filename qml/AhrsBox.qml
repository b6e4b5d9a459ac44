// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import Qt3D.Core 2.12
import Qt3D.Render 2.12
import Qt3D.Input 2.12
import Qt3D.Extras 2.12

// The module as a grey box with a red, a green and a blue rod along its own
// x, y and z axes; the whole group turns with boxRot.
Entity {
    id: sceneRoot

    property alias boxRot: totalTransform.rotation
    property var aux: backEnd.magVect3
    property real aAzm: azimuth(aux)
    property real aElv: elevation(aux)

    function isZero(v) {
        return !v || (v.x === 0 && v.y === 0 && v.z === 0)
    }

    // Angle of (x, y) in the horizontal plane, degrees in [-180, 180].
    function azimuth(v) {
        return isZero(v) ? 0 : Math.atan2(v.y, v.x) * 180 / Math.PI
    }

    // Angle of -z against the horizontal magnitude, degrees in [-90, 90].
    function elevation(v) {
        return isZero(v) ? 0 : Math.atan2(-v.z, Math.sqrt(v.x * v.x + v.y * v.y)) * 180 / Math.PI
    }

    onAuxChanged: console.log("Azm: " + azimuth(aux) + ", Elv: " + elevation(aux))

    components: [
        RenderSettings {
            // Draw when the box turns, not continuously: software GL is slow.
            renderPolicy: RenderSettings.OnDemand
            activeFrameGraph: ForwardRenderer {
                camera: camera
                clearColor: "transparent"
            }
        },
        InputSettings { }
    ]

    Camera {
        id: camera
        projectionType: CameraLens.PerspectiveProjection
        fieldOfView: 5
        nearPlane: 0.1
        farPlane: 300
        position: Qt.vector3d(50, 0, 0)
        upVector: Qt.vector3d(0, 0, -10)
        viewCenter: Qt.vector3d(0, 0, 0)
    }

    PhongMaterial {
        id: material
        ambient: "#777777"
        diffuse: "#888888"
        specular: "#aaaaaa"
    }

    PhongMaterial {
        id: redMaterial
        ambient: "#ff0000"
        diffuse: "#cc8888"
        specular: "#ffaaaa"
    }

    PhongMaterial {
        id: greenMaterial
        ambient: "#00ff00"
        diffuse: "#88cc88"
        specular: "#aaffaa"
    }

    PhongMaterial {
        id: blueMaterial
        ambient: "#0000ff"
        diffuse: "#8888ff"
        specular: "#aaaaff"
    }

    CuboidMesh {
        id: cube
        xExtent: 2.62
        yExtent: 1.62
        zExtent: 1.0
        xyMeshResolution: Qt.size(10, 10)
        yzMeshResolution: Qt.size(10, 10)
        xzMeshResolution: Qt.size(10, 10)
    }

    CylinderMesh {
        id: axisCylinder
        radius: 0.3
        length: 2.0
        rings: 50
        slices: 16
    }

    Transform {
        id: totalTransform
    }

    Transform {
        id: xAxisTransform
        rotation: fromAxisAndAngle(Qt.vector3d(0, 0, 1), 90)
        translation: Qt.vector3d(1, 0, 0)
    }

    Transform {
        id: yAxisTransform
        translation: Qt.vector3d(0, 1, 0)
    }

    Transform {
        id: zAxisTransform
        rotation: fromAxisAndAngle(Qt.vector3d(1, 0, 0), 90)
        translation: Qt.vector3d(0, 0, 1)
    }

    Entity {
        id: torusEntity
        components: [totalTransform]

        Entity {
            components: [cube, material]
        }

        Entity {
            components: [axisCylinder, redMaterial, xAxisTransform]
        }

        Entity {
            components: [axisCylinder, greenMaterial, yAxisTransform]
        }

        Entity {
            components: [axisCylinder, blueMaterial, zAxisTransform]
        }
    }
}
