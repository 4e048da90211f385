import QtQuick
import QtQuick.Layouts

// One option of the options popover: its title and a switch.
RowLayout {
    id: root
    required property string title
    required property bool isOn
    signal flipped(bool value)

    Layout.fillWidth: true
    Text {
        text: root.title
        font.pixelSize: Brand.callout
        color: Brand.text
    }
    Item { Layout.fillWidth: true }
    BrandSwitch {
        objectName: "switch"
        on: root.isOn
        Accessible.name: root.title
        onFlipped: (value) => root.flipped(value)
    }
}
