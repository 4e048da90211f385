import QtQuick
import QtQuick.Layouts

// After "Empezar ahora": where Brontide's icon is, and which application it is sending.
Item {
    id: root
    // OnboardingModel: closingText.
    required property QtObject flow

    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width
        spacing: Brand.welcomeSpacing

        Rectangle {
            objectName: "trayPicture"
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: Brand.menuBarBelow
            implicitWidth: Brand.menuBarWidth
            implicitHeight: Brand.menuBarHeight
            radius: Brand.menuBarRadius
            color: Brand.menuBarFill

            Row {
                anchors.right: parent.right
                anchors.rightMargin: Brand.menuBarInset
                anchors.verticalCenter: parent.verticalCenter
                spacing: Brand.menuBarSpacing

                Symbol {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "wifi"
                    tint: Brand.white
                    size: Brand.symbolCallout
                }
                Rectangle {
                    id: tile
                    anchors.verticalCenter: parent.verticalCenter
                    width: trayIcon.width + 2 * Brand.trayTilePadding
                    height: trayIcon.height + 2 * Brand.trayTilePadding
                    radius: Brand.trayTileRadius
                    color: Brand.mint
                    Symbol {
                        id: trayIcon
                        anchors.centerIn: parent
                        name: "hifispeaker.2.fill"
                        tint: Brand.night
                        size: Brand.symbolCallout
                    }
                    Symbol {
                        anchors.horizontalCenter: parent.horizontalCenter
                        anchors.bottom: parent.bottom
                        anchors.bottomMargin: -Brand.trayArrowDrop
                        name: "arrow.up"
                        tint: Brand.mint
                        size: Brand.symbolTitle2
                    }
                }
                Symbol {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "battery.75percent"
                    tint: Brand.white
                    size: Brand.symbolCallout
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: "19:30"
                    font.pixelSize: Brand.caption
                    color: Brand.white
                }
            }
        }
        Text {
            Layout.fillWidth: true
            text: qsTr("Brontide vive en la barra de menús")
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: Brand.title2
            font.bold: true
            color: Brand.white
        }
        Text {
            objectName: "closingText"
            Layout.fillWidth: true
            text: root.flow.closingText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: Brand.body
            opacity: Brand.stepTextOpacity
            color: Brand.white
        }
    }
}
