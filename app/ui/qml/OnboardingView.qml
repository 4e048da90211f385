import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The first-run flow: welcome, capture permission, source application, speakers, then the closing page.
Item {
    id: root
    // ControllerModel.
    required property QtObject controller
    // OnboardingModel: step, steps, finished, primaryText, forward(), back(), finish() and the permission test.
    required property QtObject flow
    readonly property var pages: [welcomePage, permissionPage, sourcePage, speakersPage]
    readonly property Component currentPage: flow.finished ? closingPage : pages[Math.min(flow.step, pages.length - 1)]

    implicitWidth: Brand.onboardingWidth
    implicitHeight: Brand.onboardingHeight

    // Every change of page replaces the page area with the slide-and-fade transition.
    Connections {
        target: root.flow
        function onStepChanged() { pageArea.replace(root.currentPage) }
        function onFinishedChanged() { pageArea.replace(root.currentPage) }
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: !root.flow.finished
        onActivated: root.flow.forward()
    }
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: root.flow.finished
        onActivated: root.flow.finish()
    }

    Component { id: welcomePage; WelcomePage {} }
    Component { id: permissionPage; PermissionPage { flow: root.flow } }
    Component { id: sourcePage; SourcePage { controller: root.controller } }
    Component { id: speakersPage; SpeakersPage {} }
    Component { id: closingPage; ClosingPage { flow: root.flow } }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        StackView {
            id: pageArea
            objectName: "pageArea"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.leftMargin: Brand.pagePaddingH
            Layout.rightMargin: Brand.pagePaddingH
            initialItem: root.currentPage

            replaceEnter: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "x"; from: pageArea.width; to: 0; duration: Brand.pageAnimation; easing.type: Easing.BezierSpline; easing.bezierCurve: Brand.easeInOut }
                    NumberAnimation { property: "opacity"; from: 0; to: 1; duration: Brand.pageAnimation; easing.type: Easing.BezierSpline; easing.bezierCurve: Brand.easeInOut }
                }
            }
            replaceExit: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "x"; from: 0; to: -pageArea.width; duration: Brand.pageAnimation; easing.type: Easing.BezierSpline; easing.bezierCurve: Brand.easeInOut }
                    NumberAnimation { property: "opacity"; from: 1; to: 0; duration: Brand.pageAnimation; easing.type: Easing.BezierSpline; easing.bezierCurve: Brand.easeInOut }
                }
            }
        }

        RowLayout {
            objectName: "footer"
            visible: !root.flow.finished
            Layout.fillWidth: true
            Layout.margins: Brand.bottomBarPadding

            PageDots {
                objectName: "pageDots"
                count: root.flow.steps
                current: root.flow.step
            }
            Item { Layout.fillWidth: true }
            AbstractButton {
                id: back
                objectName: "back"
                visible: root.flow.step > 0
                text: qsTr("Atrás")
                font.pixelSize: Brand.body
                opacity: down ? Brand.symbolButtonPressedOpacity * Brand.backOpacity : Brand.backOpacity
                focusPolicy: Qt.NoFocus
                onClicked: root.flow.back()
                contentItem: Text {
                    text: back.text
                    font: back.font
                    color: Brand.white
                    verticalAlignment: Text.AlignVCenter
                }
            }
            BrandButton {
                objectName: "primary"
                text: root.flow.primaryText
                focusPolicy: Qt.NoFocus
                onClicked: root.flow.forward()
            }
        }

        RowLayout {
            objectName: "closingBar"
            visible: root.flow.finished
            Layout.fillWidth: true
            Layout.margins: Brand.bottomBarPadding

            Item { Layout.fillWidth: true }
            BrandButton {
                objectName: "understood"
                text: qsTr("Entendido")
                focusPolicy: Qt.NoFocus
                onClicked: root.flow.finish()
            }
        }
    }
}
