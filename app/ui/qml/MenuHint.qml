import QtQuick
import QtQuick.Layouts

// A one-line hint with a tinted symbol, wrapping as needed.
RowLayout {
    id: root
    required property string symbol
    required property color tint
    required property string text
    property color textColor: Brand.secondary

    Layout.fillWidth: true
    spacing: Brand.hintTextSpacing

    Item {
        Layout.alignment: Qt.AlignTop
        implicitWidth: Brand.hintSymbolBox
        // Centred on the first text line.
        implicitHeight: hintText.font.pixelSize * 1.2
        Symbol {
            anchors.centerIn: parent
            name: root.symbol
            tint: root.tint
            size: Brand.symbolCaption
        }
    }
    Text {
        id: hintText
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignTop
        text: root.text
        wrapMode: Text.Wrap
        font.pixelSize: Brand.caption
        color: root.textColor
    }
}
