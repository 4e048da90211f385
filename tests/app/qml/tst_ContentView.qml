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

        function test_rows_and_controls_follow_running() {
            const panel = make()
            const c = panel.controller
            compare(findChild(panel, "startStop").text, "Empezar")
            verify(findChild(panel, "startRow").visible)
            verify(!findChild(panel, "chooseSpeakersRow").visible)
            verify(!findChild(panel, "hints").visible)
            verify(findChild(panel, "sourcePicker").enabled)
            verify(findChild(panel, "refreshApps").enabled)

            c.running = true
            compare(findChild(panel, "startStop").text, "Detener")
            verify(!findChild(panel, "startRow").visible)
            verify(findChild(panel, "chooseSpeakersRow").visible)
            verify(findChild(panel, "hints").visible)
            verify(!findChild(panel, "sourcePicker").enabled)
            verify(!findChild(panel, "refreshApps").enabled)
            verify(findChild(panel, "speakerList").visible)

            mouseClick(findChild(panel, "chooseSpeakersRow"))
            tryVerify(() => findChild(panel, "routeMenu").opened)
            mouseClick(findChild(panel, "refreshApps"))
            compare(c.refreshCalls, 0)
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

        function test_mute_look() {
            const panel = make()
            const c = panel.controller
            const figure = findChild(panel, "volumeFigure")
            const mute = findChild(panel, "mute")
            compare(String(figure.color), String(Brand.secondary))
            compare(String(mute.tint), String(Brand.secondary))
            compare(mute.help, "Silenciar")
            compare(findChild(panel, "volumeSlider").opacity, 1.0)

            c.muted = true
            c.volumeText = "Silencio"
            c.volumeSymbol = "speaker.slash.fill"
            compare(figure.text, "Silencio")
            compare(String(figure.color), String(Brand.coral))
            compare(String(mute.tint), String(Brand.coral))
            compare(mute.symbol, "speaker.slash.fill")
            compare(mute.help, "Quitar silencio")
            compare(findChild(panel, "volumeSlider").opacity, Brand.mutedSliderOpacity)
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
            mouseClick(findChild(findChild(popover.contentItem, "launchAtLoginRow"), "switch"))
            compare(c.launchAtLoginRequests, [true])
            verify(!findChild(findChild(popover.contentItem, "launchAtLoginRow"), "switch").on)
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
