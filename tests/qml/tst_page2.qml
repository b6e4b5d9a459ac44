// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtTest 1.12

// The register page: value texts by display code, the arrival flash, the
// read buttons and committing an edit.
Item {
    id: testRoot
    width: 1024
    height: 720

    Component {
        id: pageComponent
        Loader { source: "qrc:/Page2.qml"; width: 1024; height: 720 }
    }

    // A module streaming into one register: `count` values, one per pass of
    // the event loop.
    Component {
        id: streamComponent
        Timer {
            property int address: 10
            property int count: 100
            property int sent: 0
            interval: 2
            repeat: true
            running: true
            onTriggered: {
                ++sent
                backEnd.setRegisterFromModule(address, sent)
                if (sent === count)
                    stop()
            }
        }
    }

    TestCase {
        name: "Page2"
        when: windowShown

        function init() {
            backEnd.reset()
        }

        function makePage() {
            var loader = createTemporaryObject(pageComponent, testRoot)
            verify(loader.item, "Page2 loads")
            loader.item.grid.model = backEnd.registers
            return loader.item
        }

        // A map as long as the module's (61 registers) on a page of the given size.
        function fullMapPage(width, height) {
            var loader = createTemporaryObject(pageComponent, testRoot, { width: width, height: height })
            var registers = []
            for (var i = 0; i < 61; ++i)
                registers.push(backEnd.registers[i % backEnd.registers.length])
            loader.item.grid.model = registers
            return loader.item
        }

        function test_registerMapUsesTheWidthOfAFullHdWindow() {
            var grid = fullMapPage(1920, 1080).grid
            compare(grid.count, 61)
            // Every column on screen, and together they fill the page: the last
            // register's cell ends near the right edge, not before it.
            // (Laid out on the next polish, after the model arrived.)
            function lastRight() {
                var last = grid.itemAtIndex(60)
                return last ? last.x + grid.cellWidth : -1
            }
            tryVerify(function () { return lastRight() > 0 && lastRight() <= grid.width }, 5000,
                      "last cell ends at " + lastRight() + " in " + grid.width)
            verify(lastRight() >= grid.width * 0.95, lastRight() + " in " + grid.width)
            verify(grid.cellWidth >= 300)
        }

        function test_registerCellsKeepTheirWidthInASmallWindow() {
            var grid = fullMapPage(1024, 768).grid
            // Narrower cells would cut the names; the map scrolls sideways instead.
            compare(grid.cellWidth, 300)
            verify(grid.contentWidth > grid.width)
        }

        // The delegate of the register at `address`.
        function cellOf(page, address) {
            var grid = page.grid
            for (var i = 0; i < grid.count; ++i) {
                var cell = grid.itemAtIndex(i)
                if (cell && cell.rootModelData.address === address)
                    return cell
            }
            fail("no cell for address " + address)
        }

        function test_valueText_data() {
            return [
                { tag: "hex pads to two digits", code: 0, value: 5, expected: "0x05" },
                { tag: "hex never truncates", code: 0, value: 300, expected: "0x12C" },
                { tag: "hex of zero", code: 0, value: 0, expected: "0x00" },
                { tag: "plain number", code: 1, value: 1442, expected: "1442" },
                { tag: "plain zero", code: 1, value: 0, expected: "0" },
                { tag: "two decimals", code: 2, value: 1.5, expected: "1.50" },
                { tag: "two decimals of zero", code: 2, value: 0, expected: "0.00" },
                { tag: "two decimals rounds", code: 2, value: -0.256, expected: "-0.26" },
                { tag: "two decimals up to the field's width", code: 2, value: 9999999.5, expected: "9999999.50" },
                { tag: "negative, still two decimals", code: 2, value: -1234567.25, expected: "-1234567.25" },
                { tag: "two decimals of a tiny value", code: 2, value: 1e-30, expected: "0.00" },
                // Reals as they come from the module are 32-bit floats.
                { tag: "largest float", code: 2, value: Math.fround(3.4028235e38), expected: "3.4028235e38" },
                { tag: "largest float, negative", code: 2, value: -Math.fround(3.4028235e38), expected: "-3.4028235e38" },
                { tag: "-1e25 as a float", code: 2, value: Math.fround(-1e25), expected: "-1e25" },
                { tag: "exponent from 1e7", code: 2, value: 1e7, expected: "1e7" },
                { tag: "float digits only", code: 2, value: Math.fround(123456789), expected: "1.2345679e8" },
                { tag: "tiny negative loses its sign", code: 2, value: -0.001, expected: "0.00" },
                { tag: "negative just under a half-hundredth", code: 2, value: -0.0049, expected: "0.00" },
                { tag: "negative zero", code: 2, value: -0, expected: "0.00" },
                { tag: "negative hundredth kept", code: 2, value: -0.006, expected: "-0.01" },
                { tag: "byte in decimal", code: 0, value: 133, decimal: true, expected: "133" },
                { tag: "zero byte in decimal", code: 0, value: 0, decimal: true, expected: "0" },
                { tag: "integer unchanged by decimal", code: 1, value: 1442, decimal: true, expected: "1442" },
                { tag: "real unchanged by decimal", code: 2, value: 1.5, decimal: true, expected: "1.50" }
            ]
        }

        function test_valueText(data) {
            var cell = cellOf(makePage(), 10)
            compare(cell.formatValue(data.code, data.value, data.decimal), data.expected)
        }

        // Where the last register's cell stands in the grid's view, in pixels.
        function lastCellSpan(grid) {
            var last = grid.itemAtIndex(grid.count - 1)
            if (!last)
                return null
            return { left: last.x - grid.contentX, right: last.x + last.width - grid.contentX }
        }

        function test_wheelReachesTheLastRegister() {
            var page = fullMapPage(1024, 768)
            var grid = page.grid
            var bar = findChild(page, "registerScrollBar")
            verify(bar, "the map has a scroll bar")
            tryVerify(function () { return grid.contentWidth > grid.width }, 5000,
                      "the full map is wider than a 1024 px page")
            verify(bar.visible && bar.size < 1, "its scroll bar shows, size " + bar.size)
            compare(grid.contentX, grid.originX, "starts at the first column")

            var area = findChild(page, "registerWheelArea")
            var turns = 0
            // A vertical wheel, notch by notch, as a user would turn it.
            while (turns < 60) {
                var span = lastCellSpan(grid)
                if (span && span.left >= 0 && span.right <= grid.width)
                    break
                mouseWheel(area, area.width / 2, area.height / 2, 0, -120)
                ++turns
            }
            var shown = lastCellSpan(grid)
            verify(shown !== null && shown.left >= 0 && shown.right <= grid.width,
                   "last register on screen after " + turns + " notches: " + JSON.stringify(shown))
            verify(turns > 0 && turns < 60, turns + " notches")
            compare(bar.position + bar.size, 1, "the scroll bar is at its end")

            // And back to the first.
            for (var i = 0; i < turns + 2; ++i)
                mouseWheel(area, area.width / 2, area.height / 2, 0, 120)
            compare(grid.contentX, grid.originX)
        }

        function test_filterShowsTheMatchingRegisters_data() {
            return [
                { tag: "name, case and blanks folded", text: "acc  OFFSET", names: ["ACC Offset X"] },
                { tag: "part of a name", text: "re", names: ["Hardware Version", "Hex Register"] },
                { tag: "hexadecimal address", text: "0x34", names: ["Control1"] },
                { tag: "decimal address", text: "52", names: ["Control1"] },
                { tag: "hexadecimal address, padded", text: "0x0A", names: ["Hex Register"] },
                { tag: "nothing", text: "gyro", names: [] }
            ]
        }

        function test_filterShowsTheMatchingRegisters(data) {
            var page = makePage()
            var field = findChild(page, "registerFilter")
            field.text = data.text
            var shownGrid = findChild(page, "filteredGrid")
            verify(shownGrid.visible, "the matches show")
            compare(page.grid.visible, false)
            compare(shownGrid.count, data.names.length)
            var names = []
            for (var i = 0; i < shownGrid.model.length; ++i)
                names.push(shownGrid.model[i].registerName)
            compare(names, data.names)
            compare(findChild(page, "filterNothing").visible, data.names.length === 0)

            field.text = ""
            verify(page.grid.visible, "an empty filter shows the whole map again")
            compare(shownGrid.visible, false)
        }

        function test_decimalBoxShowsAddressesAndBytesInDecimal() {
            var page = makePage()
            backEnd.setRegisterFromModule(52, 0x85)
            var cell = cellOf(page, 52)
            var address = findChild(cell, "textAddress")
            var field = findChild(cell, "valueText")
            compare(address.text, "0x34")
            compare(field.text, "0x85")
            findChild(page, "decimalBox").checked = true
            compare(address.text, "52")
            compare(field.text, "133")
            findChild(page, "decimalBox").checked = false
            compare(field.text, "0x85")
        }

        function test_valuesOffTheFactoryDefaultAreMarked_data() {
            return [
                { tag: "byte at its default", address: 52, value: 0x85, marked: false },
                { tag: "byte changed", address: 52, value: 0x05, marked: true },
                { tag: "real at its default", address: 55, value: 0, marked: false },
                { tag: "real under a hundredth off", address: 55, value: 0.004, marked: false },
                { tag: "real changed", address: 55, value: 1.25, marked: true },
                { tag: "read-only never", address: 2, value: 1442, marked: false }
            ]
        }

        function test_valuesOffTheFactoryDefaultAreMarked(data) {
            var page = makePage()
            backEnd.setRegisterFromModule(data.address, data.value)
            var cell = cellOf(page, data.address)
            tryCompare(findChild(cell, "changedMark"), "visible", data.marked)
            compare(cell.changedFromDefault, data.marked)
        }

        function test_disconnectedStateIsShown() {
            backEnd.connection.linkOpen = false
            var page = makePage()
            var note = findChild(page, "registersDisconnected")
            verify(note.visible, "says the values are old while disconnected")
            backEnd.connection.linkOpen = true
            compare(note.visible, false)
            backEnd.connection.linkOpen = false
            verify(note.visible)
        }

        function test_refusalForWantOfALinkClearsOnConnect() {
            backEnd.setConnected(false)
            backEnd.connection.linkOpen = false
            var page = makePage()
            var cell = cellOf(page, 55)
            var field = findChild(cell, "valueText")
            typeInto(field, "1.5")
            compare(cell.invalidInput, true)
            backEnd.setConnected(true)
            backEnd.connection.linkOpen = true
            compare(cell.invalidInput, false, "connected: the refusal no longer applies")
            compare(field.text, "1.5", "what was typed stays for Enter")
            tryCompare(findChild(cell, "refusalTip"), "visible", false)
        }

        // What the module may hold must show whole, not clipped by the field.
        function test_largeRealsFitTheField_data() {
            return [
                { tag: "largest float", value: Math.fround(3.4028235e38) },
                { tag: "largest float, negative", value: -Math.fround(3.4028235e38) },
                { tag: "-1e25", value: Math.fround(-1e25) },
                { tag: "just below the exponent form", value: -9999999.5 },
                { tag: "float digits only", value: Math.fround(-123456789) },
                { tag: "smallest normal float, negative", value: -Math.fround(1.17549435e-38) }
            ]
        }

        function test_largeRealsFitTheField(data) {
            var page = makePage()
            var cell = cellOf(page, 55)
            var field = findChild(cell, "valueText")
            backEnd.setRegisterFromModule(55, data.value)
            compare(field.text, cell.formatValue(2, data.value))
            verify(field.width > 0)
            verify(field.contentWidth <= field.width,
                   field.text + " is " + field.contentWidth + " wide in a field of " + field.width)
            // Still readable: shrunk at most to two thirds.
            verify(field.font.pointSize >= cell.basePointSize * 2 / 3, field.font.pointSize)
        }

        function test_cellsShowAddressNameAndValue() {
            var page = makePage()
            compare(page.grid.count, 4)
            var cell = cellOf(page, 10)
            compare(findChild(cell, "textAddress").text, "0x0A")
            compare(findChild(cell, "textName").text, "Hex Register")
            compare(findChild(cell, "valueText").text, "0x00")
            backEnd.setRegisterFromModule(10, 300)
            compare(findChild(cell, "valueText").text, "0x12C")
            backEnd.setRegisterFromModule(2, 1442)
            compare(findChild(cellOf(page, 2), "valueText").text, "1442")
            compare(findChild(cellOf(page, 55), "valueText").text, "0.00")
        }

        function test_readOnlyRegisterHasDisabledField() {
            var page = makePage()
            compare(findChild(cellOf(page, 2), "valueText").enabled, false)
            compare(findChild(cellOf(page, 10), "valueText").enabled, true)
        }

        function test_choiceBoxOnlyWithChoices() {
            var page = makePage()
            compare(findChild(cellOf(page, 52), "choicesComboBox").visible, true)
            compare(findChild(cellOf(page, 52), "choicesComboBox").count, 2)
            compare(findChild(cellOf(page, 10), "choicesComboBox").visible, false)
        }

        function test_everyArrivalFlashesTheCell() {
            var page = makePage()
            var cell = cellOf(page, 10)
            var background = findChild(cell, "cellBackground")
            tryCompare(background, "alpha", 0, 2000)
            backEnd.setRegisterFromModule(10, 0)
            verify(background.alpha > 0.5, "an equal value flashes too")
            tryCompare(background, "alpha", 0, 2000)
            backEnd.setRegisterFromModule(10, 7)
            verify(background.alpha > 0.5)
        }

        // At the line limit values arrive every few milliseconds: the page shows
        // them, flash and value, at most once per tick of its clock (plus the
        // arrival that woke it), so the window draws at that rate, not at its
        // full one. The last value shows, and the clock stops once the flash
        // has faded.
        function test_streamShowsAtTheClocksRate() {
            var page = makePage()
            var cell = cellOf(page, 10)
            var field = findChild(cell, "valueText")
            var background = findChild(cell, "cellBackground")
            var clock = findChild(page, "arrivalClock")
            verify(clock, "the page has a clock for arrivals")
            tryCompare(clock, "running", false)
            var texts = 0
            var alphas = 0
            field.textChanged.connect(function() { ++texts })
            background.alphaChanged.connect(function() { ++alphas })

            var started = Date.now()
            var stream = createTemporaryObject(streamComponent, testRoot)
            tryCompare(stream, "running", false, 10000)
            var ticks = Math.ceil((Date.now() - started) / clock.interval)
            verify(texts <= ticks + 2, texts + " values shown in " + ticks + " ticks")
            verify(alphas <= ticks + 2, alphas + " flash steps in " + ticks + " ticks")
            tryCompare(field, "text", "0x64")
            tryCompare(clock, "running", false, 5000)
            compare(background.alpha, 0)
        }

        // A cell the view let go between an arrival and the tick (scrolled
        // away: its functions are gone before the object is) must not keep
        // the cells after it from showing their values, then or later.
        function test_aCellGoneBeforeTheTickDoesNotStopTheOthers() {
            var page = makePage()
            var field = findChild(cellOf(page, 10), "valueText")
            var clock = findChild(page, "arrivalClock")
            backEnd.setRegisterFromModule(10, 1)
            compare(field.text, "0x01") // the first of a burst shows at once
            tryCompare(clock, "burstOpen", false)
            verify(clock.running)
            clock.arrived({ arrivalPending: false }) // released: no showArrival
            backEnd.setRegisterFromModule(10, 2)
            tryCompare(field, "text", "0x02", 5000)
            backEnd.setRegisterFromModule(10, 3)
            tryCompare(field, "text", "0x03", 5000)
        }

        function test_readButtonsRequestFromModule() {
            var page = makePage()
            mouseClick(findChild(page, "readAllButton"))
            mouseClick(findChild(page, "readChartDataButton"))
            compare(backEnd.callOrder(), ["requestAllData", "requestChartData"])
        }

        function typeInto(field, text) {
            field.forceActiveFocus()
            field.selectAll()
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i))
            keyClick(Qt.Key_Return)
        }

        function test_enterCommitsEditAndShowsReadBack() {
            var page = makePage()
            var cell = cellOf(page, 10)
            var field = findChild(cell, "valueText")
            typeInto(field, "42")
            compare(backEnd.callCount("writeRegisterText"), 1)
            compare(backEnd.lastArguments("writeRegisterText"), [10, "42"])
            compare(backEnd.callCount("sent"), 1)
            compare(field.text, "0x2A", "the read-back replaced the typed text")
            compare(cell.invalidInput, false)
            compare(findChild(cell, "valueTextRect").border.width, 0)
        }

        function test_refusedEditIsMarkedUntilNextEdit() {
            var page = makePage()
            var cell = cellOf(page, 10)
            var field = findChild(cell, "valueText")
            typeInto(field, "zz")
            compare(backEnd.callCount("writeRegisterText"), 1)
            compare(backEnd.callCount("sent"), 0)
            compare(cell.invalidInput, true)
            compare(findChild(cell, "valueTextRect").border.width, 2)
            compare(field.text, "zz", "the refused text stays for correction")
            var tip = findChild(cell, "refusalTip")
            tryCompare(tip, "visible", true)
            verify(tip.text.indexOf("zz") >= 0, tip.text)

            keyClick(Qt.Key_Backspace)
            compare(cell.invalidInput, false)
            tryCompare(tip, "visible", false)
            keyClick(Qt.Key_Escape)
            compare(field.text, "0x00", "Escape shows the register's value again")
        }

        function test_editWhileDisconnectedIsRefusedVisibly() {
            backEnd.setConnected(false)
            var page = makePage()
            var cell = cellOf(page, 55)
            var field = findChild(cell, "valueText")
            typeInto(field, "1.5")
            compare(backEnd.callCount("writeRegisterText"), 1)
            compare(backEnd.callCount("sent"), 0, "nothing goes to the module")
            compare(cell.invalidInput, true)
            compare(findChild(cell, "valueTextRect").border.width, 2)
            var tip = findChild(cell, "refusalTip")
            tryCompare(tip, "visible", true)
            verify(tip.text.indexOf("Not connected") >= 0, tip.text)
            compare(field.text, "1.5")

            // Once connected the same Enter goes out.
            backEnd.setConnected(true)
            field.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(backEnd.callCount("sent"), 1)
            compare(cell.invalidInput, false)
            tryCompare(tip, "visible", false)
            compare(field.text, "1.50")
        }

        function test_refusedRealsSayWhy_data() {
            return [
                { tag: "too small, would be 0", text: "1e-50", reason: "too small" },
                { tag: "too large", text: "1e39", reason: "too large" },
                { tag: "not a number", text: "0x1F", reason: "not a number" }
            ]
        }

        function test_refusedRealsSayWhy(data) {
            var page = makePage()
            var cell = cellOf(page, 55)
            typeInto(findChild(cell, "valueText"), data.text)
            compare(backEnd.callCount("sent"), 0)
            compare(cell.invalidInput, true)
            var tip = findChild(cell, "refusalTip")
            tryCompare(tip, "visible", true)
            verify(tip.text.indexOf(data.reason) >= 0, tip.text)
        }

        function test_largestFloatAsPrintedIsWritten() {
            var page = makePage()
            var cell = cellOf(page, 55)
            var field = findChild(cell, "valueText")
            typeInto(field, "3.4028235e38")
            compare(backEnd.callCount("sent"), 1)
            compare(cell.invalidInput, false)
            compare(field.text, "3.4028235e38")
        }

        function test_arrivalDoesNotOverwriteTextBeingTyped() {
            var page = makePage()
            var field = findChild(cellOf(page, 10), "valueText")
            field.forceActiveFocus()
            field.selectAll()
            keyClick("9")
            backEnd.setRegisterFromModule(10, 3)
            compare(field.text, "9")
            field.focus = false
            backEnd.setRegisterFromModule(10, 3)
            compare(field.text, "0x03")
        }
    }
}
