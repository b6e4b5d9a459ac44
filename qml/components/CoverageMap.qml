// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// The sphere of field directions as two halves seen from above (+Z) and from
// below (-Z), +X to the right and +Y up in both: one dot per cell, a filled
// green dot where points have arrived, a bright open ring where none has yet.
Canvas {
    id: map
    objectName: "coverageMap"
    // x, y, z, covered (1 or 0) per cell.
    property var cells: []
    property color coveredColor: "#43a047"
    property color missingColor: "#ff8a65"
    // Room under the discs for their names and the key.
    readonly property real captionHeight: 38

    implicitHeight: width / 2 + captionHeight
    onCellsChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    // The disc's radius and the dot's, for a cell count; a dot stays clear of
    // its neighbours near the rim, where the view from above crowds them.
    function geometry() {
        var r = Math.min(width / 4, (height - captionHeight) / 2) - 4
        var count = Math.max(1, (map.cells || []).length / 8)
        var dot = Math.max(1.5, Math.min(r * 0.09, r * 0.75 / Math.sqrt(count)))
        return { r: r, dot: dot, reach: r - dot - 1.5 }
    }

    // Where cell i's dot is drawn: half (0 above, 1 below), its centre and size.
    function dotOf(i) {
        var g = geometry()
        var half = cells[4 * i + 2] >= 0 ? 0 : 1
        var cx = half === 0 ? width / 4 : 3 * width / 4
        var cy = g.r + 4
        return {
            half: half,
            x: cx + cells[4 * i] * g.reach,
            y: cy - cells[4 * i + 1] * g.reach,
            radius: g.dot,
            discX: cx,
            discY: cy,
            discRadius: g.r
        }
    }

    onPaint: {
        var ctx = getContext("2d")
        ctx.reset()
        var g = geometry()
        if (g.r <= 0)
            return
        var centres = [[width / 4, g.r + 4], [3 * width / 4, g.r + 4]]
        for (var h = 0; h < 2; ++h) {
            ctx.beginPath()
            ctx.arc(centres[h][0], centres[h][1], g.r, 0, 2 * Math.PI)
            ctx.fillStyle = "#202428"
            ctx.fill()
            ctx.strokeStyle = "#607d8b"
            ctx.lineWidth = 1
            ctx.stroke()
        }
        var cells = map.cells || []
        for (var i = 0; 4 * i + 3 < cells.length; ++i) {
            var d = dotOf(i)
            ctx.beginPath()
            ctx.arc(d.x, d.y, cells[4 * i + 3] > 0 ? d.radius : d.radius - 0.75, 0, 2 * Math.PI)
            if (cells[4 * i + 3] > 0) {
                ctx.fillStyle = map.coveredColor
                ctx.fill()
            } else {
                ctx.strokeStyle = map.missingColor
                ctx.lineWidth = 1.5
                ctx.stroke()
            }
        }
        ctx.fillStyle = "#cfd8dc"
        ctx.font = "12px sans-serif"
        ctx.textAlign = "center"
        ctx.fillText("+Z half", centres[0][0], 2 * g.r + 20)
        ctx.fillText("-Z half", centres[1][0], 2 * g.r + 20)
        for (var k = 0; k < 2; ++k) {
            ctx.fillText("+X", centres[k][0] + g.r - 10, centres[k][1] + 4)
            ctx.fillText("+Y", centres[k][0], centres[k][1] - g.r + 14)
        }
        // The key.
        var keyY = 2 * g.r + 34
        ctx.textAlign = "left"
        ctx.beginPath()
        ctx.arc(width / 2 - 70, keyY - 4, 4, 0, 2 * Math.PI)
        ctx.fillStyle = map.coveredColor
        ctx.fill()
        ctx.fillStyle = "#cfd8dc"
        ctx.fillText(qsTr("reached"), width / 2 - 62, keyY)
        ctx.beginPath()
        ctx.arc(width / 2 + 10, keyY - 4, 3.25, 0, 2 * Math.PI)
        ctx.strokeStyle = map.missingColor
        ctx.lineWidth = 1.5
        ctx.stroke()
        ctx.fillText(qsTr("missing"), width / 2 + 18, keyY)
    }
}
