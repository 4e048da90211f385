import QtQuick

// The level meter: 24 bars that light up from the left as `level` rises.
Item {
    id: root
    required property real level

    implicitWidth: bars.implicitWidth
    implicitHeight: Brand.levelBox

    Row {
        id: bars
        anchors.bottom: parent.bottom
        spacing: Brand.levelBarSpacing

        Repeater {
            model: Brand.levelBarCount
            Rectangle {
                required property int index
                // Compared in 32-bit float, as the level is measured.
                readonly property bool lit: root.level > Math.fround(Math.fround(index / Brand.levelBarCount) * Math.fround(Brand.levelScale))

                objectName: "bar" + index
                anchors.bottom: parent.bottom
                width: Brand.levelBarWidth
                height: Brand.levelBarBase + Brand.levelBarStep * index
                radius: Brand.levelBarRadius
                color: index < Brand.levelMintBars ? Brand.mint : index < Brand.levelAmberBars ? Brand.amber : Brand.coral
                opacity: lit ? 1.0 : Brand.unlitOpacity
                Behavior on opacity { NumberAnimation { duration: Brand.levelAnimation; easing.type: Easing.Linear } }
            }
        }
    }
}
