// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import CustomPlot 1.0

// The live chart of a page's sensor, filling the space above the buttons.
// A page gives the names of the three signals and binds `data` to its list.
CustomPlotItem {
    objectName: "plotItem"
    anchors.fill: parent
}
