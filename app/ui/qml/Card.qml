import QtQuick
import QtQuick.Layouts

// A titled group on the panel's body.
Rectangle {
    id: root
    required property string title
    required property string systemImage
    default property alias content: column.data

    Layout.fillWidth: true
    implicitHeight: column.implicitHeight + 2 * Brand.cardPadding
    radius: Brand.cardRadius
    color: Brand.cardFill

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: Brand.cardPadding
        spacing: Brand.cardSpacing

        Row {
            spacing: Brand.labelSpacing
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                name: root.systemImage
                tint: Brand.secondary
                size: Brand.symbolCaption
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.title
                font.pixelSize: Brand.caption
                font.weight: Font.DemiBold
                font.capitalization: Font.AllUppercase
                color: Brand.secondary
            }
        }
    }
}
