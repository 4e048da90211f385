import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Shapes
import Qt5Compat.GraphicalEffects

// The options popover, opened above the gear button with its arrow pointing at it.
Popup {
    id: root
    required property QtObject controller
    required property QtObject updates
    signal quitRequested()

    // The button the popover belongs to (its parent): right edges aligned, the arrow on its centre.
    readonly property real anchorWidth: parent ? parent.width : 0
    x: anchorWidth - width + Brand.popoverOverhang
    y: -height - Brand.popoverArrow
    width: Brand.optionsWidth
    padding: Brand.optionsPadding
    // Pressing the gear button again is its own toggle, not an outside press.
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent

    background: Item {
        Rectangle {
            id: panelShape
            anchors.fill: parent
            radius: Brand.popoverRadius
            color: Brand.window
            border.color: Brand.divider
            layer.enabled: true
            layer.effect: DropShadow {
                transparentBorder: true
                radius: Brand.shadowRadius
                samples: 2 * Brand.shadowRadius + 1
                verticalOffset: Brand.shadowOffset
                color: Brand.shadow
            }
        }
        Shape {
            objectName: "arrow"
            // Centred on the gear button, pointing down at it; its fill covers the edge it leaves from.
            x: root.width - root.anchorWidth / 2 - Brand.popoverArrow - Brand.popoverOverhang
            y: parent.height - 1
            width: 2 * Brand.popoverArrow
            height: Brand.popoverArrow
            ShapePath {
                fillColor: Brand.window
                strokeColor: Brand.divider
                strokeWidth: 1
                startX: 0; startY: 0
                PathLine { x: Brand.popoverArrow; y: Brand.popoverArrow }
                PathLine { x: 2 * Brand.popoverArrow; y: 0 }
            }
        }
    }

    contentItem: ColumnLayout {
        spacing: Brand.optionsSpacing

        Row {
            spacing: Brand.labelSpacing
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                name: "gearshape"
                tint: Brand.secondary
                size: Brand.symbolCaption
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("Opciones")
                font.pixelSize: Brand.caption
                font.weight: Font.DemiBold
                font.capitalization: Font.AllUppercase
                color: Brand.secondary
            }
        }
        OptionRow {
            objectName: "autoStartRow"
            title: qsTr("Empezar automáticamente al abrir Brontide")
            isOn: root.controller.autoStart
            onFlipped: (value) => root.controller.autoStart = value
        }
        OptionRow {
            objectName: "launchAtLoginRow"
            title: qsTr("Abrir al iniciar sesión")
            isOn: root.controller.launchAtLogin
            onFlipped: (value) => root.controller.setLaunchAtLogin(value)
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Brand.divider
        }
        RowLayout {
            Layout.fillWidth: true
            TextButton {
                objectName: "checkUpdates"
                text: qsTr("Buscar actualizaciones…")
                enabled: root.updates.canCheck
                onClicked: {
                    root.close()
                    root.updates.checkForUpdates()
                }
            }
            Item { Layout.fillWidth: true }
            TextButton {
                objectName: "quit"
                text: qsTr("Salir de Brontide")
                onClicked: root.quitRequested()
            }
        }
    }
}
