import QtQuick
import QtQuick.Controls.Basic

// A borderless button showing one symbol, with a help text on hover.
AbstractButton {
    id: root
    required property string symbol
    required property color tint
    property int size: Brand.symbolBody
    property string help

    implicitWidth: Brand.symbolButton
    implicitHeight: Brand.symbolButton
    opacity: !enabled ? Brand.disabledOpacity : down ? Brand.symbolButtonPressedOpacity : 1.0
    Accessible.name: help
    ToolTip.visible: hovered && help !== ""
    ToolTip.text: help
    ToolTip.delay: Brand.tooltipDelay

    contentItem: Item {
        Symbol {
            anchors.centerIn: parent
            name: root.symbol
            tint: root.tint
            size: root.size
        }
    }
    background: Rectangle {
        radius: Brand.symbolButtonRadius
        color: root.hovered && root.enabled ? Brand.hover : Brand.clear
    }
}
