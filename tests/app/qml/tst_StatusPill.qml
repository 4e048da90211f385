import QtQuick
import QtTest
import Brontide
import Brontide.Motion

TestCase {
    name: "StatusPill"
    when: windowShown

    Component {
        id: pillComponent
        StatusPill { label: ""; clock: FrameClock { running: true } }
    }

    function test_only_live_breathes_and_leaving_it_stops() {
        for (const kind of ["stopped", "waiting", "error"])
            verify(!createTemporaryObject(pillComponent, this, { stateKind: kind }).breathing, kind)
        const pill = createTemporaryObject(pillComponent, this, { stateKind: "live" })
        const dot = findChild(pill, "dot")
        tryVerify(() => dot.scale > 1.0)
        pill.stateKind = "error"
        compare(dot.scale, 1.0)
        compare(dot.opacity, 1.0)
    }
}
