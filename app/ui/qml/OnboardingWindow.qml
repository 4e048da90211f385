import QtQuick
import QtQuick.Layouts

// The first-run window: 400 × 500, no title bar of its own (the gradient reaches the top), fixed size,
// moved by dragging its background. Closing it only hides it.
FixedSizeWindow {
    id: window
    required property QtObject controller
    required property QtObject flow

    title: Brand.productName
    color: Brand.night
    flags: Qt.Window | Qt.FramelessWindowHint
    fixedWidth: Brand.onboardingWidth
    fixedHeight: Brand.onboardingHeight

    Rectangle {
        anchors.fill: parent
        gradient: Gradient {
            GradientStop { position: 0.0; color: Brand.headerTop }
            GradientStop { position: 1.0; color: Brand.night }
        }
        MouseArea {
            anchors.fill: parent
            onPressed: window.startSystemMove()
        }
    }

    OnboardingView {
        objectName: "onboardingView"
        anchors.fill: parent
        controller: window.controller
        flow: window.flow
    }

    SymbolButton {
        objectName: "closeWindow"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: Brand.closeButtonInset
        implicitWidth: Brand.closeButton
        implicitHeight: Brand.closeButton
        symbol: "xmark"
        tint: Brand.white
        size: Brand.symbolCaption
        help: qsTr("Cerrar")
        onClicked: window.close()
    }
}
