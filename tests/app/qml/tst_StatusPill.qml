import QtQuick
import QtTest
import Brontide

TestCase {
    name: "StatusPill"
    when: windowShown

    Component {
        id: pillComponent
        StatusPill {}
    }

    function test_state_data() {
        return [
            { tag: "stopped", kind: "stopped", label: "Detenido", colour: Brand.secondary, breathes: false },
            { tag: "waiting", kind: "waiting", label: "Esperando audio", colour: Brand.orange, breathes: false },
            { tag: "live", kind: "live", label: "En directo", colour: Brand.mint, breathes: true },
            { tag: "error", kind: "error", label: "Error", colour: Brand.red, breathes: false }
        ]
    }

    function test_state(data) {
        const pill = createTemporaryObject(pillComponent, this, { stateKind: data.kind, label: data.label })
        compare(String(findChild(pill, "dot").color), String(data.colour))
        compare(findChild(pill, "label").text, data.label)
        verify(pill.pulse)
        compare(pill.breathing, data.breathes)
    }

    function test_leaving_live_stops_breathing() {
        const pill = createTemporaryObject(pillComponent, this, { stateKind: "live", label: "En directo" })
        const dot = findChild(pill, "dot")
        tryVerify(() => dot.scale > 1.0)
        pill.stateKind = "error"
        compare(dot.scale, 1.0)
        compare(dot.opacity, 1.0)
    }
}
