import QtQuick
import QtQuick.Controls.Basic

// A slider from 0 to 1 tinted with the brand violet.
Slider {
    id: root
    from: 0.0
    to: 1.0

    background: Item {
        x: root.leftPadding
        y: root.topPadding + root.availableHeight / 2 - height / 2
        implicitWidth: 120
        implicitHeight: Brand.sliderTrack
        width: root.availableWidth
        height: Brand.sliderTrack

        Rectangle {
            anchors.fill: parent
            radius: height / 2
            color: Brand.track
        }
        Rectangle {
            width: root.visualPosition * parent.width
            height: parent.height
            radius: height / 2
            color: Brand.violet
        }
    }
    handle: Rectangle {
        x: root.leftPadding + root.visualPosition * (root.availableWidth - width)
        y: root.topPadding + root.availableHeight / 2 - height / 2
        implicitWidth: Brand.sliderHandle
        implicitHeight: Brand.sliderHandle
        radius: width / 2
        color: Brand.white
        border.color: Brand.controlBorder
        border.width: 1
    }
}
