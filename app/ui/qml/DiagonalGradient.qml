import QtQuick
import QtQuick.Shapes

// A two-colour gradient from the top-leading to the bottom-trailing corner, laid out in the unit square
// and stretched, so its bands run parallel to the other diagonal whatever the item's proportions.
Item {
    id: root
    required property color from
    required property color to

    Shape {
        width: 1
        height: 1
        transform: Scale { xScale: root.width; yScale: root.height }
        ShapePath {
            strokeWidth: -1
            fillGradient: LinearGradient {
                x1: 0; y1: 0; x2: 1; y2: 1
                GradientStop { position: 0.0; color: root.from }
                GradientStop { position: 1.0; color: root.to }
            }
            PathPolyline { path: [Qt.point(0, 0), Qt.point(1, 0), Qt.point(1, 1), Qt.point(0, 1), Qt.point(0, 0)] }
        }
    }
}
