import QtQuick

// The first-run window; it stays open until the user finishes or closes it.
Window {
    id: window
    required property QtObject controller

    title: Brand.productName
    color: Brand.window
    flags: Qt.Window | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
    width: Brand.onboardingWidth
    height: Brand.onboardingHeight
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
}
