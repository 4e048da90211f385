import QtQuick

// A bundled symbol, tinted.
Image {
    required property string name
    required property color tint
    property int size: Brand.symbolBody

    width: size
    height: size
    sourceSize: Qt.size(size, size)
    source: "image://symbol/" + name + "?" + encodeURIComponent(tint)
    fillMode: Image.PreserveAspectFit
}
