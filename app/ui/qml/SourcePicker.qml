import QtQuick
import QtQuick.Controls.Basic

// The pop-up list of source applications; shows no row when the selected one is not listed.
ComboBox {
    id: root
    // Entries {bundleID, name}.
    required property var apps
    required property int selectedIndex
    signal picked(string bundleID)

    model: apps
    textRole: "name"
    valueRole: "bundleID"
    currentIndex: selectedIndex
    onActivated: (index) => root.picked(root.valueAt(index))
    implicitHeight: Brand.pickerHeight
    font.pixelSize: Brand.body
    opacity: enabled ? 1.0 : Brand.disabledOpacity

    contentItem: Text {
        leftPadding: Brand.pickerPaddingH
        rightPadding: Brand.symbolCaption + Brand.pickerPaddingH
        text: root.displayText
        font: root.font
        color: Brand.text
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    indicator: Symbol {
        x: root.width - width - Brand.pickerPaddingH / 2
        y: (root.height - height) / 2
        name: "chevron.up.chevron.down"
        tint: Brand.secondary
        size: Brand.symbolCaption
    }
    background: Rectangle {
        radius: Brand.pickerRadius
        color: root.hovered && root.enabled ? Qt.tint(Brand.cardFill, Brand.hover) : Brand.cardFill
        border.color: Brand.controlBorder
        border.width: 1
    }
}
