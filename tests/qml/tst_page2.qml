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
                { tag: "float digits only", code: 2, value: Math.fround(123456789), expected: "1.2345679e8" }
            ]
        }

        function test_valueText(data) {
            var cell = cellOf(makePage(), 10)
            compare(cell.formatValue(data.code, data.value), data.expected)
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
