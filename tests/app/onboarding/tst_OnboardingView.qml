import QtQuick
import QtTest
import Brontide
import BrontideTest

// The onboarding flow on the real view models; the controller under them runs on fakes.
Item {
    id: stage
    width: 400
    height: 500

    TestCase {
        name: "OnboardingView"
        when: windowShown

        readonly property string spotify: "com.spotify.client"

        Component {
            id: viewComponent
            OnboardingView {
                width: 400
                height: 500
                controller: Harness.controller
                flow: Harness.flow
            }
        }
        Component {
            id: windowComponent
            OnboardingWindow {
                controller: Harness.controller
                flow: Harness.flow
            }
        }
        SignalSpy { id: doneSpy; signalName: "done" }

        function make(apps, source) {
            Harness.reset(apps, source)
            doneSpy.clear()
            doneSpy.target = Harness.flow
            const view = createTemporaryObject(viewComponent, stage)
            // Return is a window shortcut: without a window manager nothing activates the window for us.
            stage.Window.window.requestActivate()
            tryVerify(() => stage.Window.active)
            return view
        }
        // The page on screen once the transition has ended.
        function page(view) {
            const area = findChild(view, "pageArea")
            tryVerify(() => !area.busy)
            return area.currentItem
        }
        function primary(view) { return findChild(view, "primary") }
        function forward(view, times) {
            for (let i = 0; i < times; ++i) mouseClick(primary(view))
            page(view)
        }

        function test_primary_and_back_per_page_then_start_now() {
            const view = make([], spotify)
            const back = findChild(view, "back")
            const expected = ["Comenzar", "Siguiente", "Siguiente", "Empezar ahora"]
            for (let step = 0; step < 4; ++step) {
                compare(Harness.flow.step, step)
                compare(primary(view).text, expected[step])
                compare(back.visible, step > 0, "back on page " + step)
                if (step < 3) forward(view, 1)
            }
            mouseClick(back)
            compare(Harness.flow.step, 2)
            keyClick(Qt.Key_Return)
            compare(Harness.flow.step, 3)
            verify(!Harness.onboarded())

            keyClick(Qt.Key_Return)
            verify(Harness.onboarded())
            verify(Harness.running())
            verify(!findChild(view, "footer").visible)
            verify(findChild(view, "closingBar").visible)
            compare(findChild(page(view), "closingText").text,
                    "Haz clic en su icono de la bandeja del sistema para elegir altavoces, cambiar el volumen o pararlo. Ya está enviando Spotify.")
            compare(doneSpy.count, 0)
            keyClick(Qt.Key_Return)
            compare(doneSpy.count, 1)
        }

        function test_permission_fails_opens_settings_and_retries() {
            const view = make([], spotify)
            Harness.failNextCapture("No se pudo captar el audio (OSStatus -2)")
            forward(view, 1)
            const p = page(view)
            const ask = findChild(p, "askPermission")
            mouseClick(ask)
            verify(!ask.visible)
            verify(findChild(p, "permissionFailed").visible)
            compare(findChild(p, "failureMessage").text, "No se pudo captar el audio (OSStatus -2)")
            const settings = findChild(p, "openSettings")
            compare(settings.text, "Abrir ajustes de sonido")
            mouseClick(settings)
            compare(Harness.opened(), ["x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture"])

            mouseClick(findChild(p, "retry"))
            verify(!findChild(p, "permissionFailed").visible)
            verify(findChild(p, "asking").visible)
            compare(findChild(p, "asking").children[1].text, "Si el sistema te lo pregunta, pulsa «Permitir».")
            // The flow never waits for the test.
            verify(primary(view).enabled)
            Harness.endCapture()
            verify(!findChild(p, "asking").visible)
            verify(findChild(p, "permissionDone").visible)
            forward(view, 1)
            compare(Harness.flow.step, 2)
        }

        function rowsOf(p) {
            return Array.from(findChild(p, "sourceList").contentItem.children)
                .filter(r => r.objectName === "sourceRow").sort((a, b) => a.index - b.index)
        }
        function ticked(rows) {
            return rows.filter(r => findChild(r, "tick").visible).map(r => r.modelData.name)
        }

        function test_source_page_refreshes_ticks_and_names_the_choice() {
            const view = make([["org.mozilla.firefox", "Firefox"], ["org.gnome.Rhythmbox3", "Rhythmbox"]],
                              "org.gnome.Rhythmbox3")
            Harness.addApp("org.videolan.vlc", "VLC")
            forward(view, 2)
            const p = page(view)
            let rows = rowsOf(p)
            compare(rows.map(r => r.modelData.name), ["Firefox", "Rhythmbox", "VLC"])
            compare(ticked(rows), ["Rhythmbox"])

            mouseClick(rows[2])
            compare(Harness.controller.selectedBundle, "org.videolan.vlc")
            compare(ticked(rowsOf(p)), ["VLC"])

            Harness.chooseUnlisted("org.example.gone")
            compare(ticked(rowsOf(p)), [])
            forward(view, 2)
            compare(findChild(page(view), "closingText").text,
                    "Haz clic en su icono de la bandeja del sistema para elegir altavoces, cambiar el volumen o pararlo. Ya está enviando org.example.gone.")
        }

        function test_closing_the_window_early_leaves_onboarded_false() {
            Harness.reset([], spotify)
            const window = createTemporaryObject(windowComponent, stage)
            window.show()
            tryVerify(() => window.visible)
            for (let i = 0; i < 3; ++i) mouseClick(findChild(window, "primary"))
            compare(Harness.flow.step, 3)
            mouseClick(findChild(window, "closeWindow"))
            verify(!window.visible)
            verify(!Harness.onboarded())
            verify(!Harness.running())
        }
    }
}
