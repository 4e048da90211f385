import QtQuick
import QtQuick.Layouts

// The frame of one onboarding step: a tinted symbol tile, a title, a text and extra content, in white.
ColumnLayout {
    id: root
    required property string symbol
    required property color tint
    required property string title
    required property string text
    default property alias extra: extraColumn.data

    spacing: Brand.stepSpacing

    Rectangle {
        Layout.alignment: Qt.AlignHCenter
        implicitWidth: Brand.stepSymbolBox
        implicitHeight: Brand.stepSymbolBox
        radius: Brand.stepSymbolRadius
        color: Qt.rgba(root.tint.r, root.tint.g, root.tint.b, Brand.tintFillOpacity)
        Symbol {
            anchors.centerIn: parent
            name: root.symbol
            tint: root.tint
            size: Brand.symbolStep
        }
    }
    Text {
        Layout.fillWidth: true
        text: root.title
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        font.pixelSize: Brand.title2
        font.bold: true
        color: Brand.white
    }
    Text {
        Layout.fillWidth: true
        text: root.text
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        font.pixelSize: Brand.body
        opacity: Brand.stepTextOpacity
        color: Brand.white
    }
    ColumnLayout {
        id: extraColumn
        // Full width when a piece fills it (a list); otherwise as wide as its pieces, centred.
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: Brand.stepExtraPadding
        spacing: Brand.stepExtraSpacing
    }
}
