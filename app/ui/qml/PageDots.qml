import QtQuick

// One capsule per onboarding page; the current one is wide and bright, and they spring as the page changes.
Row {
    id: root
    required property int count
    required property int current

    spacing: Brand.dotSpacing

    Repeater {
        model: root.count
        Rectangle {
            required property int index
            readonly property bool isCurrent: index === root.current

            objectName: "pageDot"
            width: isCurrent ? Brand.dotCurrentWidth : Brand.dotHeight
            height: Brand.dotHeight
            radius: height / 2
            color: Brand.white
            opacity: isCurrent ? Brand.dotCurrentOpacity : Brand.dotOpacity
            Behavior on width { SpringAnimation { spring: Brand.dotSpring; damping: Brand.dotDamping; epsilon: 0.05 } }
            Behavior on opacity { SpringAnimation { spring: Brand.dotSpring; damping: Brand.dotDamping; epsilon: 0.005 } }
        }
    }
}
