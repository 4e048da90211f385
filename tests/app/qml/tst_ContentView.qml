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

        // Which rows show in each state is in the screenshots; what a click does is not.
        function test_running_locks_the_source() {
            const panel = make()
            const c = panel.controller
            mouseClick(findChild(panel, "refreshApps"))
            compare(c.refreshCalls, 1)
            c.running = true
            mouseClick(findChild(panel, "refreshApps"))
            compare(c.refreshCalls, 1)
            verify(!findChild(panel, "sourcePicker").enabled)
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

        function test_header_shrinks_back_when_a_row_of_it_clears() {
            const panel = make()
            const header = findChild(panel, "header")
            const twoRows = header.height
            for (const row of ["detail", "silenceText", "settingsNotice"]) {
                panel.controller[row] = "Abre Spotify y dale al play."
                tryVerify(() => header.height > twoRows)
                panel.controller[row] = ""
                tryCompare(header, "height", twoRows)
            }
        }

        function test_mute_button_toggles_and_leaves_the_slider_usable() {
            const panel = make()
            const mute = findChild(panel, "mute")
            panel.controller.muted = true
            compare(mute.help, "Quitar silencio")
            verify(findChild(panel, "volumeSlider").enabled)
            mouseClick(mute)
            compare(panel.controller.toggleMutedCalls, 1)
        }

        function test_options_popover() {
            const panel = make()
            const c = panel.controller
            const popover = findChild(panel, "optionsPopover")
            mouseClick(findChild(panel, "optionsButton"))
            tryCompare(popover, "opened", true)

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
