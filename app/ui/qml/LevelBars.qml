import QtQuick

// The level meter: 24 bars that light up from the left as `level` rises.
Item {
    id: root
    required property real level
    // The panel's FrameClock; without one (or while it stops) a bar changes at once.
    property QtObject clock: null

    implicitWidth: bars.implicitWidth
    implicitHeight: Brand.levelBox

    Row {
        id: bars
        anchors.bottom: parent.bottom
        spacing: Brand.levelBarSpacing

        Repeater {
            model: Brand.levelBarCount
            Rectangle {
                id: bar
                required property int index
                // Compared in 32-bit float, as the level is measured.
                readonly property bool lit: root.level > Math.fround(Math.fround(index / Brand.levelBarCount) * Math.fround(Brand.levelScale))
                // The last change of `lit`: the opacity goes linearly from `from` to `to` over Brand.levelAnimation
                // from `at`, drawn at the clock's ticks. One assignment, so the level's changes between ticks draw
                // nothing.
                property var fade: ({ from: Brand.unlitOpacity, to: Brand.unlitOpacity, at: -Infinity })
                readonly property real progress: Math.max(0, Math.min(1, ((root.clock ? root.clock.time : 0) - fade.at) * 1000 / Brand.levelAnimation))

                objectName: "bar" + index
                anchors.bottom: parent.bottom
                width: Brand.levelBarWidth
                height: Brand.levelBarBase + Brand.levelBarStep * index
                radius: Brand.levelBarRadius
                color: index < Brand.levelMintBars ? Brand.mint : index < Brand.levelAmberBars ? Brand.amber : Brand.coral
                opacity: progress === 1 ? fade.to : fade.from + (fade.to - fade.from) * progress
                Component.onCompleted: fade = { from: lit ? 1.0 : Brand.unlitOpacity, to: lit ? 1.0 : Brand.unlitOpacity, at: -Infinity }
                onLitChanged: fade = { from: bar.opacity, to: lit ? 1.0 : Brand.unlitOpacity,
                                       at: root.clock && root.clock.running ? root.clock.now() : -Infinity }
            }
        }
    }
}
