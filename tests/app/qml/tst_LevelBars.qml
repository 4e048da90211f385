import QtQuick
import QtTest
import Brontide
import Brontide.Motion

TestCase {
    name: "LevelBars"
    when: windowShown

    Component {
        id: barsComponent
        LevelBars { level: 0; clock: FrameClock { running: true } }
    }

    function test_lit_data() {
        // The measured level is a 32-bit float; so are the thresholds i / 24 * 0.9.
        const threshold5 = Math.fround(Math.fround(5 / 24) * Math.fround(0.9))
        return [
            { tag: "zero", level: 0, lit: 0 },
            { tag: "just above zero", level: Math.fround(1e-6), lit: 1 },
            { tag: "exactly the sixth threshold", level: threshold5, lit: 5 },
            { tag: "just above it", level: threshold5 + 1e-6, lit: 6 },
            { tag: "0.8625", level: Math.fround(0.8625), lit: 24 }
        ]
    }

    function test_lit(data) {
        const bars = createTemporaryObject(barsComponent, this, { level: data.level })
        // Bars light from the left, and unlit bars stay drawn at low opacity.
        for (let i = 0; i < Brand.levelBarCount; ++i)
            compare(findChild(bars, "bar" + i).lit, i < data.lit, "bar " + i)
        if (data.lit < Brand.levelBarCount)
            tryCompare(findChild(bars, "bar" + (Brand.levelBarCount - 1)), "opacity", Brand.unlitOpacity)
        // Lit bars fade out on the clock when the level falls.
        bars.level = 0
        tryCompare(findChild(bars, "bar0"), "opacity", Brand.unlitOpacity)
    }
}
