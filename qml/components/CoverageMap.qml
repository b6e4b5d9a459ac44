// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// The sphere of field directions as two halves seen from above (+Z) and from
// below (-Z), +X to the right and +Y up in both: one dot per cell, green where
// points have arrived, dark where none has yet.
Canvas {
    id: map
    objectName: "coverageMap"
    // x, y, z, covered (1 or 0) per cell.
    property var cells: []
    property color coveredColor: "#43a047"
    property color missingColor: "#5a2a2a"

    implicitHeight: width / 2 + 22
    onCellsChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        var ctx = getContext("2d")
        ctx.reset()
        var r = Math.min(width / 4, (height - 22) / 2) - 4
        if (r <= 0)
            return
        var centres = [[width / 4, r + 4], [3 * width / 4, r + 4]]
        for (var h = 0; h < 2; ++h) {
            ctx.beginPath()
            ctx.arc(centres[h][0], centres[h][1], r, 0, 2 * Math.PI)
            ctx.fillStyle = "#202428"
            ctx.fill()
            ctx.strokeStyle = "#607d8b"
            ctx.lineWidth = 1
            ctx.stroke()
        }
        var dot = Math.max(2, r * 0.11)
        var cells = map.cells || []
        for (var i = 0; i + 3 < cells.length; i += 4) {
            var half = cells[i + 2] >= 0 ? 0 : 1
            ctx.beginPath()
            ctx.arc(centres[half][0] + cells[i] * r * 0.92, centres[half][1] - cells[i + 1] * r * 0.92,
                    dot, 0, 2 * Math.PI)
            ctx.fillStyle = cells[i + 3] > 0 ? map.coveredColor : map.missingColor
            ctx.fill()
        }
        ctx.fillStyle = "#cfd8dc"
        ctx.font = "12px sans-serif"
        ctx.textAlign = "center"
        ctx.fillText("+Z half", centres[0][0], 2 * r + 20)
        ctx.fillText("-Z half", centres[1][0], 2 * r + 20)
        for (var k = 0; k < 2; ++k) {
            ctx.fillText("+X", centres[k][0] + r - 10, centres[k][1] + 4)
            ctx.fillText("+Y", centres[k][0], centres[k][1] - r + 14)
        }
    }
}
