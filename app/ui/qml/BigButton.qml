import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The wide gradient row of the speakers card: a symbol, a title over a subtitle, and an optional trailing symbol.
AbstractButton {
    id: root
    required property string symbol
    required property string title
    required property string subtitle
    property string trailing
    property string help

    Layout.fillWidth: true
    leftPadding: Brand.bigButtonPaddingH
    rightPadding: Brand.bigButtonPaddingH
    topPadding: Brand.bigButtonPaddingV
    bottomPadding: Brand.bigButtonPaddingV
    opacity: down ? Brand.pressedOpacity : 1.0
    Accessible.name: title
    ToolTip.visible: hovered && help !== ""
    ToolTip.text: help
    ToolTip.delay: Brand.tooltipDelay

    contentItem: RowLayout {
        spacing: Brand.bigButtonSpacing
        Item {
            implicitWidth: Brand.bigButtonSymbolBox
            implicitHeight: Brand.symbolTitle2
            Symbol {
                anchors.centerIn: parent
                name: root.symbol
                tint: Brand.white
                size: Brand.symbolTitle2
            }
        }
        ColumnLayout {
            spacing: Brand.bigButtonTextSpacing
            Text {
                text: root.title
                font.pixelSize: Brand.headline
                font.bold: true
                color: Brand.white
            }
            Text {
                text: root.subtitle
                font.pixelSize: Brand.caption
                opacity: Brand.bigButtonSubtitleOpacity
                color: Brand.white
            }
        }
        Item { Layout.fillWidth: true }
        Symbol {
            visible: root.trailing !== ""
            name: root.trailing || "chevron.up.chevron.down"
            tint: Brand.white
            size: Brand.symbolCaption
        }
    }
    background: Rectangle {
        radius: Brand.bigButtonRadius
        gradient: Brand.gradient
    }
}
