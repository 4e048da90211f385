import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One output in the AirPlay menu: its box, symbol, name and state; a receiver also has its own volume.
ColumnLayout {
    id: root
    required property string name
    required property string stateText
    required property bool selected
    required property bool choosable
    required property real volume
    required property bool local
    required property string symbol
    required property bool passwordKnown
    signal toggled(bool on)
    signal volumeMoved(real value)
    signal forgetPassword()

    objectName: "routeRow"
    spacing: 0
    opacity: choosable ? 1.0 : Brand.disabledOpacity

    AbstractButton {
        id: check
        objectName: "routeCheck"
        Layout.fillWidth: true
        enabled: root.choosable
        leftPadding: Brand.routeRowPaddingH
        rightPadding: Brand.routeRowPaddingH
        topPadding: Brand.routeRowPaddingV
        bottomPadding: Brand.routeRowPaddingV
        Accessible.role: Accessible.CheckBox
        Accessible.name: root.name
        Accessible.checked: root.selected
        onClicked: root.toggled(!root.selected)

        contentItem: RowLayout {
            spacing: Brand.rowSpacing
            Symbol {
                objectName: "box"
                name: root.selected ? "checkmark.square.fill" : "square"
                tint: root.selected ? Brand.mint : Brand.secondary
                size: Brand.symbolBody
            }
            Symbol {
                name: root.symbol
                tint: Brand.text
                size: Brand.symbolCallout
            }
            // The state under the name, so that a long note leaves the name its width.
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 0
                Text {
                    Layout.fillWidth: true
                    text: root.name
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    font.pixelSize: Brand.body
                    color: Brand.text
                }
                Text {
                    objectName: "routeState"
                    Layout.fillWidth: true
                    visible: text !== ""
                    text: root.stateText
                    elide: Text.ElideRight
                    font.pixelSize: Brand.caption
                    color: Brand.secondary
                }
            }
        }
        background: Rectangle {
            radius: Brand.routeRowRadius
            color: check.hovered && check.enabled ? Brand.hover : Brand.clear
        }
    }
    BrandSlider {
        objectName: "routeVolume"
        // A device that cannot be chosen has no volume to set.
        visible: !root.local && root.choosable
        Layout.fillWidth: true
        Layout.leftMargin: Brand.routeSliderIndent
        Layout.rightMargin: Brand.routeRowPaddingH
        value: root.volume
        onMoved: root.volumeMoved(value)
    }
    TextButton {
        objectName: "forgetPassword"
        visible: root.passwordKnown && !root.local
        Layout.leftMargin: Brand.routeSliderIndent
        text: qsTr("Olvidar contraseña")
        font.pixelSize: Brand.caption
        onClicked: root.forgetPassword()
    }
}
