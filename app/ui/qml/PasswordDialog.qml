import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Qt5Compat.GraphicalEffects

// Asks for an AirPlay receiver's password while the route list wants one (routes.passwordName). "Conectar"
// hands it over with the "Recordar en el llavero" box; "Cancelar" or Escape gives up.
Popup {
    id: root
    required property QtObject routes
    readonly property string receiver: routes.passwordName !== undefined ? routes.passwordName : ""

    parent: T.Overlay.overlay
    x: (parent.width - width) / 2
    y: (parent.height - height) / 2
    width: Brand.routeMenuWidth
    padding: Brand.bodyPadding
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    // Opened and closed by the request, never bound: a popup sets its own visibility.
    onReceiverChanged: receiver !== "" ? open() : close()
    Component.onCompleted: if (receiver !== "") open()
    onClosed: if (receiver !== "") routes.cancelPassword()
    onOpened: {
        field.text = ""
        remember.checked = true
        field.forceActiveFocus()
    }

    function connect() {
        if (field.text === "") return
        routes.providePassword(receiver, field.text, remember.checked)
        field.text = ""
    }

    background: Rectangle {
        radius: Brand.popoverRadius
        color: Brand.window
        border.color: Brand.divider
        border.width: 1
        layer.enabled: true
        layer.effect: DropShadow {
            radius: Brand.shadowRadius
            verticalOffset: Brand.shadowOffset
            color: Brand.shadow
            transparentBorder: true
        }
    }

    contentItem: ColumnLayout {
        spacing: Brand.bodySpacing

        Text {
            Layout.fillWidth: true
            text: qsTr("Contraseña de «%1»").arg(root.receiver)
            wrapMode: Text.Wrap
            font.pixelSize: Brand.headline
            font.bold: true
            color: Brand.text
        }
        TextField {
            id: field
            objectName: "passwordField"
            Layout.fillWidth: true
            echoMode: TextInput.Password
            font.pixelSize: Brand.body
            onAccepted: root.connect()
        }
        Text {
            objectName: "passwordProblem"
            visible: text !== ""
            Layout.fillWidth: true
            text: root.routes.passwordProblem !== undefined ? root.routes.passwordProblem : ""
            font.pixelSize: Brand.caption
            color: Brand.red
        }
        AbstractButton {
            id: remember
            objectName: "rememberPassword"
            checkable: true
            checked: true
            Accessible.role: Accessible.CheckBox
            Accessible.name: qsTr("Recordar en el llavero")
            contentItem: RowLayout {
                spacing: Brand.labelSpacing
                Symbol {
                    name: remember.checked ? "checkmark.square.fill" : "square"
                    tint: remember.checked ? Brand.mint : Brand.secondary
                    size: Brand.symbolBody
                }
                Text {
                    text: qsTr("Recordar en el llavero")
                    font.pixelSize: Brand.body
                    color: Brand.text
                }
            }
        }
        Text {
            objectName: "noKeyring"
            visible: root.routes.keyringMissing === true
            Layout.fillWidth: true
            text: qsTr("No hay llavero: la contraseña se recordará hasta que cierres Brontide.")
            wrapMode: Text.WordWrap
            font.pixelSize: Brand.caption
            color: Brand.secondary
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: Brand.rowSpacing
            TextButton {
                objectName: "cancelPassword"
                text: qsTr("Cancelar")
                onClicked: root.routes.cancelPassword()
            }
            BrandButton {
                objectName: "connectPassword"
                text: qsTr("Conectar")
                enabled: field.text !== ""
                onClicked: root.connect()
            }
        }
    }
}
