import QtQuick

// The streaming state badge; a live badge breathes.
Rectangle {
    id: root
    // "error", "stopped", "waiting" or "live", and the state's label.
    required property string stateKind
    required property string label
    // The panel's FrameClock, which times the breath; without one (or while it stops) the badge holds still.
    property QtObject clock: null
    // Set once the badge is on screen; never cleared.
    property bool pulse: false
    readonly property color dotColor: ({
        "stopped": Brand.secondary,
        "waiting": Brand.orange,
        "live": Brand.mint,
        "error": Brand.red
    })[stateKind] ?? Brand.secondary
    readonly property bool breathing: pulse && stateKind === "live" && clock !== null && clock.running
    // On the clock, when the breath began: each starts from rest.
    property real breathFrom: 0
    readonly property real phase: breathing ? clock.breath(clock.time - breathFrom, Brand.pulseDuration) : 0

    implicitWidth: row.implicitWidth + 2 * Brand.pillPaddingH
    implicitHeight: row.implicitHeight + 2 * Brand.pillPaddingV
    radius: height / 2
    color: Brand.pillFill
    Component.onCompleted: pulse = true
    onBreathingChanged: if (breathing) breathFrom = clock.time

    Row {
        id: row
        anchors.centerIn: parent
        spacing: Brand.pillSpacing

        Rectangle {
            objectName: "dot"
            anchors.verticalCenter: parent.verticalCenter
            width: Brand.pillDot
            height: Brand.pillDot
            radius: width / 2
            color: root.dotColor
            scale: root.breathing ? 1 + (Brand.pulseScale - 1) * root.phase : 1
            opacity: root.breathing ? 1 - (1 - Brand.pulseOpacity) * root.phase : 1
        }
        Text {
            objectName: "label"
            anchors.verticalCenter: parent.verticalCenter
            text: root.label
            font.pixelSize: Brand.caption
            font.weight: Font.DemiBold
            color: Brand.white
        }
    }
}
