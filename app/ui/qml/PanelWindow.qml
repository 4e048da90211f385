import QtQuick

// The tray panel's window; its height follows the panel's content.
Window {
    id: window
    required property QtObject controller
    required property QtObject speakers
    required property QtObject updates
    required property QtObject routes
    signal quitRequested()

    title: Brand.productName
    color: Brand.window
    // Fixed size: the limits follow the size's source, not width and height, which they clamp (a binding loop).
    readonly property int fixedHeight: content.implicitHeight
    width: Brand.panelWidth
    height: fixedHeight
    minimumWidth: Brand.panelWidth
    maximumWidth: Brand.panelWidth
    minimumHeight: fixedHeight
    maximumHeight: fixedHeight

    ContentView {
        id: content
        controller: window.controller
        speakers: window.speakers
        updates: window.updates
        routes: window.routes
        onQuitRequested: window.quitRequested()
    }
}
