// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12

// A small chart for the noise page: axes logarithmic or linear, each series a
// list of points [x, y] or [x, y, low, high] drawn as markers with their
// interval bars, or as a line. Drawn on a canvas: a few hundred points.
Item {
    id: root

    property string title: ""
    property string xLabel: ""
    property string yLabel: ""
    property bool logX: true
    property bool logY: true
    // [{name, color, points, line (bool), dashed (bool)}]
    property var series: []
    // What is drawn, for the tests: the series with at least one point.
    readonly property int drawnSeries: {
        var n = 0
        for (var i = 0; i < series.length; ++i)
            if (series[i].points && series[i].points.length > 0)
                ++n
        return n
    }

    onSeriesChanged: canvas.requestPaint()
    onWidthChanged: canvas.requestPaint()
    onHeightChanged: canvas.requestPaint()

    function toAxis(v, log) {
        return log ? (v > 0 ? Math.log(v) / Math.LN10 : NaN) : v
    }

    // Axis range over every point, intervals included, in axis units.
    function range(log, index) {
        var lo = Infinity, hi = -Infinity
        for (var i = 0; i < series.length; ++i) {
            var pts = series[i].points || []
            for (var j = 0; j < pts.length; ++j) {
                var cols = index === 0 ? [0] : (pts[j].length > 3 ? [1, 2, 3] : [1])
                for (var k = 0; k < cols.length; ++k) {
                    var a = toAxis(pts[j][cols[k]], log)
                    if (isFinite(a)) {
                        lo = Math.min(lo, a)
                        hi = Math.max(hi, a)
                    }
                }
            }
        }
        if (!isFinite(lo))
            return [0, 1]
        if (log) {
            lo = Math.floor(lo)
            hi = Math.ceil(hi)
        }
        if (hi - lo < 1e-12) {
            var pad = Math.max(Math.abs(lo) * 0.05, 1e-6)
            lo -= pad
            hi += pad
        }
        return [lo, hi]
    }

    function tickText(v, log) {
        if (log)
            return "1e" + Math.round(v)
        return Number(v).toPrecision(4).replace(/\.?0+$/, "")
    }

    Text {
        id: titleText
        text: root.title
        color: "#e0e0e0"
        font.bold: true
        anchors.horizontalCenter: parent.horizontalCenter
    }

    Canvas {
        id: canvas
        anchors.top: titleText.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            ctx.fillStyle = "#262626"
            ctx.fillRect(0, 0, width, height)
            var left = 62, right = 8, top = 6, bottom = 34
            var w = width - left - right, h = height - top - bottom
            if (w <= 10 || h <= 10)
                return
            var rx = root.range(root.logX, 0), ry = root.range(root.logY, 1)
            function px(v) { return left + (root.toAxis(v, root.logX) - rx[0]) / (rx[1] - rx[0]) * w }
            function py(v) { return top + h - (root.toAxis(v, root.logY) - ry[0]) / (ry[1] - ry[0]) * h }
            // Grid and ticks: each decade on log axes, five steps otherwise.
            ctx.strokeStyle = "#444444"
            ctx.fillStyle = "#b0b0b0"
            ctx.font = "11px sans-serif"
            ctx.lineWidth = 1
            var stepsX = root.logX ? Math.max(1, Math.round(rx[1] - rx[0])) : 5
            for (var i = 0; i <= stepsX; ++i) {
                var ax = rx[0] + (rx[1] - rx[0]) * i / stepsX
                var x = left + w * i / stepsX
                ctx.beginPath(); ctx.moveTo(x, top); ctx.lineTo(x, top + h); ctx.stroke()
                ctx.fillText(root.tickText(ax, root.logX), x - 14, top + h + 13)
            }
            var stepsY = root.logY ? Math.max(1, Math.round(ry[1] - ry[0])) : 5
            for (i = 0; i <= stepsY; ++i) {
                var ay = ry[0] + (ry[1] - ry[0]) * i / stepsY
                var y = top + h - h * i / stepsY
                ctx.beginPath(); ctx.moveTo(left, y); ctx.lineTo(left + w, y); ctx.stroke()
                ctx.fillText(root.tickText(ay, root.logY), 2, y + 4)
            }
            ctx.fillText(root.xLabel, left + w / 2 - 30, top + h + 28)
            ctx.fillText(root.yLabel, left + 4, top + 12)
            // Series, then their names.
            for (var s = 0; s < root.series.length; ++s) {
                var ser = root.series[s]
                var pts = ser.points || []
                ctx.strokeStyle = ser.color
                ctx.fillStyle = ser.color
                ctx.lineWidth = ser.line ? 2 : 1
                if (ser.line) {
                    ctx.setLineDash ? ctx.setLineDash(ser.dashed ? [6, 4] : []) : undefined
                    ctx.beginPath()
                    var started = false
                    for (var j = 0; j < pts.length; ++j) {
                        var X = px(pts[j][0]), Y = py(pts[j][1])
                        if (!isFinite(X) || !isFinite(Y))
                            continue
                        if (started) ctx.lineTo(X, Y); else ctx.moveTo(X, Y)
                        started = true
                    }
                    ctx.stroke()
                    ctx.setLineDash ? ctx.setLineDash([]) : undefined
                } else {
                    for (j = 0; j < pts.length; ++j) {
                        X = px(pts[j][0]); Y = py(pts[j][1])
                        if (!isFinite(X) || !isFinite(Y))
                            continue
                        if (pts[j].length > 3) {
                            ctx.beginPath()
                            ctx.moveTo(X, py(pts[j][2])); ctx.lineTo(X, py(pts[j][3]))
                            ctx.stroke()
                        }
                        ctx.fillRect(X - 2, Y - 2, 4, 4)
                    }
                }
                ctx.fillText(ser.name, left + w - 150, top + 14 + 14 * s)
            }
        }
    }
}
