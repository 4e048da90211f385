import QtQuick
import QtTest
import Brontide
import "../stubs"

// TestCase itself is never visible: the views live under this item.
Item {
    id: stage
    width: 400
    height: 800

    TestCase {
        name: "ContentView"
        when: windowShown

        Component {
            id: panelComponent
            ContentView {
                controller: StubController {}
                speakers: StubSpeakers {}
                updates: StubUpdates {}
                routes: StubRoutes {}
            }
        }

        SignalSpy { id: quitSpy; signalName: "quitRequested" }

        function make() {
            const panel = createTemporaryObject(panelComponent, stage)
            quitSpy.clear()
            quitSpy.target = panel
            return panel
        }

        function test_running_switches_rows_and_locks_the_source() {
            const panel = make()
            const c = panel.controller
            compare(findChild(panel, "startStop").text, "Empezar")
            verify(findChild(panel, "startRow").visible)
            verify(!findChild(panel, "hints").visible)

            c.running = true
            compare(findChild(panel, "startStop").text, "Detener")
            verify(!findChild(panel, "startRow").visible)
            verify(findChild(panel, "hints").visible)
            verify(findChild(panel, "speakerList").visible)
            verify(!findChild(panel, "sourcePicker").enabled)
            mouseClick(findChild(panel, "refreshApps"))
            compare(c.refreshCalls, 0)
            mouseClick(findChild(panel, "chooseSpeakersRow"))
            tryVerify(() => findChild(panel, "routeMenu").opened)
        }

        function test_start_stop_by_button_row_and_space() {
            const panel = make()
            const c = panel.controller
            mouseClick(findChild(panel, "startStop"))
            compare(c.toggleRunningCalls, 1)
            keyClick(Qt.Key_Space)
            compare(c.toggleRunningCalls, 2)
            mouseClick(findChild(panel, "startRow"))
            compare(c.startCalls, 1)
        }

        function test_detail_row_only_with_text() {
            const panel = make()
            const header = findChild(panel, "header")
            const twoRows = header.height
            verify(!findChild(panel, "detail").visible)
            panel.controller.detail = "Abre Spotify y dale al play."
            verify(findChild(panel, "detail").visible)
            tryVerify(() => header.height > twoRows)
            panel.controller.detail = ""
            tryCompare(header, "height", twoRows)
        }

        function test_mute_button() {
            const panel = make()
            const c = panel.controller
            const mute = findChild(panel, "mute")
            compare(mute.help, "Silenciar")
            c.muted = true
            compare(mute.help, "Quitar silencio")
            verify(findChild(panel, "volumeSlider").enabled)
            mouseClick(mute)
            compare(c.toggleMutedCalls, 1)
        }

        function test_options_popover() {
            const panel = make()
            const c = panel.controller
            const popover = findChild(panel, "optionsPopover")
            mouseClick(findChild(panel, "optionsButton"))
            tryCompare(popover, "opened", true)
            verify(!findChild(popover.contentItem, "checkUpdates").enabled)

            // The switch reports the flip; what it shows stays the controller's.
            const launchAtLogin = findChild(findChild(popover.contentItem, "launchAtLoginRow"), "switch")
            mouseClick(launchAtLogin)
            compare(c.launchAtLoginRequests, [true])
            verify(!launchAtLogin.on)
            mouseClick(findChild(findChild(popover.contentItem, "autoStartRow"), "switch"))
            verify(c.autoStart)

            mouseClick(findChild(popover.contentItem, "quit"))
            compare(quitSpy.count, 1)

            mouseClick(findChild(panel, "optionsButton"))
            tryCompare(popover, "visible", false)
            keyClick(Qt.Key_Q, Qt.ControlModifier)
            compare(quitSpy.count, 2)
        }
    }
}
