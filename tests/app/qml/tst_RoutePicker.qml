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
                transparent: true
            }
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

        // How the rows look is in the airplay-menu screenshot, except a receiver that wants a password.
        function test_a_click_opens_the_menu_and_ticks_and_volumes_reach_the_model() {
            const picker = createTemporaryObject(pickerComponent, stage)
            const menu = findChild(picker, "routeMenu")
            verify(!menu.opened)
            mouseClick(picker)
            tryVerify(() => menu.opened, 5000, "an invisible picker still opens the menu")
            const rows = menuRows(picker)
            compare(rows.map(r => r.name), ["Este ordenador", "Cocina", "Dormitorio"])
            compare(findChild(rows[2], "routeState").text, "Requiere contraseña")

            mouseClick(findChild(rows[1], "routeCheck"))
            mouseClick(findChild(rows[2], "routeCheck"))
            mouseClick(findChild(rows[0], "routeCheck"))
            compare(picker.routes.selects, [["Cocina", true], ["Este ordenador", false]])
            verify(!findChild(rows[2], "routeVolume").visible)

            const slider = findChild(rows[1], "routeVolume")
            compare(slider.value, 0.5)
            mouseClick(slider, slider.width - slider.rightPadding - 1, slider.height / 2)
            compare(picker.routes.volumes.length, 1)
            compare(picker.routes.volumes[0][0], "Cocina")
            verify(picker.routes.volumes[0][1] > 0.9)
        }
    }
}
