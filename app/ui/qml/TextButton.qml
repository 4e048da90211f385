import QtQuick
import QtQuick.Controls.Basic

// A borderless text button in the callout style.
AbstractButton {
    id: root
    font.pixelSize: Brand.callout
    opacity: !enabled ? Brand.disabledOpacity : down ? Brand.symbolButtonPressedOpacity : 1.0
    Accessible.name: text
    contentItem: Text {
        text: root.text
        font: root.font
        color: Brand.text
    }
}
