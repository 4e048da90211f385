import QtQuick
import Brontide
import "../stubs"

// The panel on stub models that react like a controller would, for trying the views by hand.
PanelWindow {
    id: window
    visible: true
    controller: StubController {
        id: c
        function start() { running = true; stateKind = "live"; stateLabel = "En directo"; detail = "Spotify · 48 kHz · AAC 256 kbps" }
        function stop() { running = false; stateKind = "stopped"; stateLabel = "Detenido"; detail = ""; level = 0 }
        function toggleRunning() { running ? stop() : start() }
        function toggleMuted() { muted = !muted; figure() }
        function figure() {
            volumeText = muted ? "Silencio" : Math.round(volume * 100) + " %"
            volumeSymbol = muted || volume === 0 ? "speaker.slash.fill" : "speaker.wave.2.fill"
        }
        function setLaunchAtLogin(on) { launchAtLogin = on }
        onVolumeChanged: figure()
        onSelectedBundleChanged: selectedIndex = apps.findIndex(app => app.bundleID === selectedBundle)
    }
    speakers: StubSpeakers {
        searching: true
        speakers: [
            { name: "Salón", kind: "HomePod", symbol: "homepod.fill" },
            { name: "Cocina", kind: "HomePod mini", symbol: "homepodmini.fill" },
            { name: "Televisión", kind: "Apple TV", symbol: "appletv.fill" }
        ]
    }
    updates: StubUpdates {}
    routes: StubRoutes {
        function select(name, on) {
            for (let i = 0; i < count; ++i) if (get(i).name === name) setProperty(i, "selected", on)
            active = get(1).selected || get(2).selected
        }
        function setVolume(name, volume) {
            for (let i = 0; i < count; ++i) if (get(i).name === name) setProperty(i, "volume", volume)
        }
    }
    onQuitRequested: Qt.quit()

    Timer {
        interval: 50
        repeat: true
        running: c.running
        onTriggered: c.level = c.muted ? 0 : 0.45 + 0.4 * Math.random()
    }
}
