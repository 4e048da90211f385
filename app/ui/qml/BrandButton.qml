import QtQuick
import QtQuick.Controls.Basic

// The brand's call-to-action button: a gradient capsule with a white headline label.
Button {
    id: root
    leftPadding: Brand.buttonPaddingH
    rightPadding: Brand.buttonPaddingH
    topPadding: Brand.buttonPaddingV
    bottomPadding: Brand.buttonPaddingV
    opacity: down ? Brand.pressedOpacity : 1.0
    font.pixelSize: Brand.headline
    font.bold: true
    contentItem: Text {
        text: root.text
        font: root.font
        color: Brand.white
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: height / 2
        gradient: Brand.gradient
    }
}
