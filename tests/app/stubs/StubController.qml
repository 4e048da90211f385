import QtQml

// The controller model's properties with plain values; the verbs count their calls.
QtObject {
    property var apps: [
        { "bundleID": "com.spotify.client", "name": "Spotify" },
        { "bundleID": "org.mozilla.firefox", "name": "Firefox" },
        { "bundleID": "org.gnome.rhythmbox3", "name": "Rhythmbox" }
    ]
    property string selectedBundle: "com.spotify.client"
    property int selectedIndex: 0
    property url sourceIcon: "image://symbol/app.dashed"
    property bool autoStart: false
    property bool running: false
    property string stateKind: "stopped"
    property string stateLabel: "Detenido"
    property string detail: ""
    property real level: 0
    property real volume: 1
    property bool muted: false
    property string volumeText: "100 %"
    property string volumeSymbol: "speaker.wave.2.fill"
    property bool launchAtLogin: false
    property string silenceText: ""
    property string settingsNotice: ""

    property int startCalls: 0
    property int toggleRunningCalls: 0
    property int toggleMutedCalls: 0
    property int refreshCalls: 0
    property var launchAtLoginRequests: []

    function start() { startCalls += 1 }
    function toggleRunning() { toggleRunningCalls += 1 }
    function toggleMuted() { toggleMutedCalls += 1 }
    function refreshApps() { refreshCalls += 1 }
    function setLaunchAtLogin(on) { launchAtLoginRequests = launchAtLoginRequests.concat([on]) }
}
