import QtQuick
import QtTest
import Brontide
import "../stubs"

// The AirPlay picker and its menu on a stub route list.
Item {
    id: stage
    width: 400
    height: 600

    TestCase {
        name: "RoutePicker"
        when: windowShown

        Component {
            id: pickerComponent
            RoutePicker {
                x: 150
                y: 20
                routes: StubRoutes {}
            }
        }

        function make(transparent) {
            return createTemporaryObject(pickerComponent, stage, { transparent: transparent })
        }
        function menuRows(picker) {
            const rows = []
            const find = item => {
                for (let i = 0; i < item.children.length; ++i)
                    item.children[i].objectName === "routeRow" ? rows.push(item.children[i]) : find(item.children[i])
            }
            find(findChild(picker, "routeMenu").contentItem)
            return rows
        }

        function test_only_a_click_opens_the_menu_with_every_route() {
            const picker = make(false)
            const menu = findChild(picker, "routeMenu")
            verify(!menu.opened)
            mouseClick(picker)
            tryVerify(() => menu.opened)
            const rows = menuRows(picker)
            compare(rows.map(r => r.name), ["Este ordenador", "Cocina", "Dormitorio"])
            compare(rows.map(r => findChild(r, "box").name), ["checkmark.square.fill", "square", "square"])
            compare(rows.map(r => findChild(r, "routeState").visible), [false, false, true])
            compare(findChild(rows[2], "routeState").text, "Requiere contraseña")
            // "Este ordenador" has no volume of its own here; every receiver has one.
            compare(rows.map(r => findChild(r, "routeVolume").visible), [false, true, true])
        }

        function test_ticks_and_volumes_reach_the_model_but_not_for_a_disabled_receiver() {
            const picker = make(true)
            mouseClick(picker)
            tryVerify(() => findChild(picker, "routeMenu").opened, 5000, "an invisible picker still opens the menu")
            const rows = menuRows(picker)
            mouseClick(findChild(rows[1], "routeCheck"))
            mouseClick(findChild(rows[2], "routeCheck"))
            mouseClick(findChild(rows[0], "routeCheck"))
            compare(picker.routes.selects, [["Cocina", true], ["Este ordenador", false]])
            verify(!findChild(rows[2], "routeCheck").enabled)
            verify(!findChild(rows[2], "routeVolume").enabled)

            const slider = findChild(rows[1], "routeVolume")
            compare(slider.value, 0.5)
            mouseClick(slider, slider.width - slider.rightPadding - 1, slider.height / 2)
            compare(picker.routes.volumes.length, 1)
            compare(picker.routes.volumes[0][0], "Cocina")
            verify(picker.routes.volumes[0][1] > 0.9)
        }
    }
}
