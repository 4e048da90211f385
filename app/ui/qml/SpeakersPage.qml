import QtQuick
import QtQuick.Layouts

// Page 3: how the speakers are chosen later, from the panel; an illustration only.
Item {
    StepLayout {
        anchors.centerIn: parent
        width: parent.width
        symbol: "hifispeaker.2.fill"
        tint: Brand.coral
        title: qsTr("Elige tus altavoces")
        text: qsTr("Pulsa «Elegir altavoces» y marca uno o varios HomePods en el menú de AirPlay, como haces en el iPhone.")

        Row {
            Layout.alignment: Qt.AlignHCenter
            spacing: Brand.rowSpacing

            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: Brand.illustrationCircle
                height: Brand.illustrationCircle
                radius: width / 2
                gradient: Brand.gradient
                Symbol {
                    anchors.centerIn: parent
                    name: "airplayaudio"
                    tint: Brand.white
                    size: Brand.symbolTitle3
                }
            }
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                name: "arrow.right"
                tint: Brand.white
                opacity: Brand.illustrationArrowOpacity
                size: Brand.symbolBody
            }
            Repeater {
                model: [Brand.coral, Brand.amber, Brand.mint]
                Symbol {
                    required property color modelData
                    anchors.verticalCenter: parent.verticalCenter
                    name: "homepod.fill"
                    tint: modelData
                    size: Brand.symbolTitle2
                }
            }
        }
    }
}
