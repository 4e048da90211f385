import QtQuick
import QtQuick.Controls.Basic

// A small switch that always shows `on` and reports a flip, so the owner decides what `on` becomes.
AbstractButton {
    id: root
    required property bool on
    signal flipped(bool value)

    implicitWidth: Brand.switchWidth
    implicitHeight: Brand.switchHeight
    focusPolicy: Qt.TabFocus
    onClicked: flipped(!on)

    background: Rectangle {
        radius: height / 2
        color: root.on ? Brand.violet : Brand.track
        opacity: root.enabled ? 1.0 : Brand.disabledOpacity
        Behavior on color { ColorAnimation { duration: 120 } }

        Rectangle {
            x: root.on ? parent.width - width - Brand.switchKnobInset : Brand.switchKnobInset
            anchors.verticalCenter: parent.verticalCenter
            width: parent.height - 2 * Brand.switchKnobInset
            height: width
            radius: width / 2
            color: Brand.white
            border.color: Brand.controlBorder
            border.width: root.on ? 0 : 1
            Behavior on x { NumberAnimation { duration: 120; easing.type: Easing.OutCubic } }
        }
    }
}
