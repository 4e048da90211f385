import QtQuick
import QtQuick.Controls.Basic

// The clickable area that opens Brontide's AirPlay menu. Transparent: invisible, laid over a custom
// button. Otherwise the AirPlay symbol, white, and mint while the sound goes to AirPlay.
AbstractButton {
    id: root
    // Rows {name, stateText, selected, choosable, volume, local, symbol}; active; select(), setVolume().
    required property QtObject routes
    required property bool transparent
    readonly property color tint: transparent ? Brand.clear : routes.active ? Brand.mint : Brand.white

    implicitWidth: Brand.routePickerSize
    implicitHeight: Brand.routePickerSize
    focusPolicy: Qt.NoFocus
    // Over a custom button the button keeps its own hover and help text.
    hoverEnabled: !transparent
    onClicked: menu.open()

    contentItem: Item {
        Symbol {
            objectName: "pickerSymbol"
            anchors.centerIn: parent
            visible: !root.transparent
            name: "airplayaudio"
            tint: root.tint
            size: Brand.symbolTitle2
        }
    }
    background: null

    RouteMenu {
        id: menu
        objectName: "routeMenu"
        routes: root.routes
    }
    PasswordDialog {
        objectName: "passwordDialog"
        routes: root.routes
    }
}
