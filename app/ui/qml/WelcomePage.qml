import QtQuick
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects

// Page 0: the application's icon, the greeting and what Brontide does.
Item {
    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width
        spacing: Brand.welcomeSpacing

        Item {
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: Brand.welcomeIcon
            implicitHeight: Brand.welcomeIcon
            Image {
                id: icon
                anchors.fill: parent
                source: Brand.appIcon
                sourceSize: Qt.size(Brand.welcomeIcon, Brand.welcomeIcon)
                visible: false
            }
            DropShadow {
                anchors.fill: icon
                source: icon
                radius: Brand.welcomeShadowRadius
                samples: 2 * Brand.welcomeShadowRadius + 1
                color: Brand.welcomeShadow
                transparentBorder: true
            }
        }
        Text {
            Layout.fillWidth: true
            text: qsTr("Bienvenido a Brontide")
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: Brand.largeTitle
            font.bold: true
            color: Brand.white
        }
        Text {
            Layout.fillWidth: true
            text: qsTr("Envía la música del Mac a tus HomePods y altavoces AirPlay, en una o en varias salas. El resto del sonido sigue en el Mac.")
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: Brand.body
            opacity: Brand.stepTextOpacity
            color: Brand.white
        }
    }
}
