import QtQuick
import QtTest
import Brontide

TestCase {
    name: "LevelBars"
    when: windowShown

    Component {
        id: barsComponent
        LevelBars { level: 0 }
    }

    function litBars(bars) {
        let lit = []
        for (let i = 0; i < Brand.levelBarCount; ++i) {
            if (findChild(bars, "bar" + i).lit)
                lit.push(i)
        }
        return lit
    }

    function test_lit_data() {
        // The measured level is a 32-bit float; so are the thresholds i / 24 * 0.9.
        const threshold5 = Math.fround(Math.fround(5 / 24) * Math.fround(0.9))
        return [
            { tag: "zero", level: 0, lit: 0 },
            { tag: "below zero", level: -0.5, lit: 0 },
            { tag: "just above zero", level: Math.fround(1e-6), lit: 1 },
            { tag: "exactly the sixth threshold", level: threshold5, lit: 5 },
            { tag: "just above it", level: threshold5 + 1e-6, lit: 6 },
            { tag: "0.8625", level: Math.fround(0.8625), lit: 24 },
            { tag: "full", level: 1.0, lit: 24 }
        ]
    }

    function test_lit(data) {
        const bars = createTemporaryObject(barsComponent, this, { level: data.level })
        const lit = litBars(bars)
        compare(lit.length, data.lit)
        // Bars light from the left, and unlit bars stay drawn at low opacity.
        for (let i = 0; i < lit.length; ++i)
            compare(lit[i], i)
        if (data.lit < Brand.levelBarCount)
            tryCompare(findChild(bars, "bar" + (Brand.levelBarCount - 1)), "opacity", Brand.unlitOpacity)
    }

    function test_colours_and_heights() {
        const bars = createTemporaryObject(barsComponent, this)
        compare(String(findChild(bars, "bar13").color), String(Brand.mint))
        compare(String(findChild(bars, "bar14").color), String(Brand.amber))
        compare(String(findChild(bars, "bar19").color), String(Brand.amber))
        compare(String(findChild(bars, "bar20").color), String(Brand.coral))
        fuzzyCompare(findChild(bars, "bar0").height, 6.0, 1e-9)
        fuzzyCompare(findChild(bars, "bar23").height, 19.8, 1e-9)
    }
}
