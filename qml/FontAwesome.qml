// SPDX-License-Identifier: GPL-3.0-or-later
pragma Singleton
import QtQuick 2.12

// Loads the three icon fonts once for the whole interface.
Item {
    id: fonts

    readonly property FontLoader fontAwesomeRegular: FontLoader {
        source: "qrc:/Graphics/otfs/Font Awesome 5 Free-Regular-400.otf"
    }
    readonly property FontLoader fontAwesomeSolid: FontLoader {
        source: "qrc:/Graphics/otfs/Font Awesome 5 Free-Solid-900.otf"
    }
    readonly property FontLoader fontAwesomeBrands: FontLoader {
        source: "qrc:/Graphics/otfs/Font Awesome 5 Brands-Regular-400.otf"
    }
    readonly property string icons: fonts.fontAwesomeRegular.name
    readonly property string brands: fonts.fontAwesomeBrands.name
}
