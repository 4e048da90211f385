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
    width: Brand.panelWidth
    height: content.implicitHeight
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height

    ContentView {
        id: content
        controller: window.controller
        speakers: window.speakers
        updates: window.updates
        routes: window.routes
        onQuitRequested: window.quitRequested()
    }
}
