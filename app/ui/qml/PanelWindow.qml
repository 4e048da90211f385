import QtQuick

// The tray panel's window; its height follows the panel's content.
FixedSizeWindow {
    id: window
    required property QtObject controller
    required property QtObject speakers
    required property QtObject updates
    required property QtObject routes
    signal quitRequested()

    title: Brand.productName
    color: Brand.window
    fixedWidth: Brand.panelWidth
    fixedHeight: content.implicitHeight

    ContentView {
        id: content
        controller: window.controller
        speakers: window.speakers
        updates: window.updates
        routes: window.routes
        onQuitRequested: window.quitRequested()
    }
}
