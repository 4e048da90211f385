import QtQuick

// A window of one size, set through fixedWidth and fixedHeight. The limits follow those, not width and height,
// which they clamp (Qt 6.8 reports that as a binding loop).
Window {
    property int fixedWidth
    property int fixedHeight

    width: fixedWidth
    height: fixedHeight
    minimumWidth: fixedWidth
    maximumWidth: fixedWidth
    minimumHeight: fixedHeight
    maximumHeight: fixedHeight
}
