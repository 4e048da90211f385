import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Page 1: the capture test, with its way to the sound settings and a retry when it fails.
Item {
    id: root
    // OnboardingModel: permission, permissionMessage, settingsMessage, askPermission(), openPrivacySettings().
    required property QtObject flow

    StepLayout {
        anchors.centerIn: parent
        width: parent.width
        symbol: "waveform.badge.mic"
        tint: Brand.mint
        title: qsTr("Permiso para captar el audio")
        text: qsTr("Brontide necesita permiso de macOS para oír la app que elijas. El audio no sale de tu red y no se graba nunca.")

        BrandButton {
            objectName: "askPermission"
            Layout.alignment: Qt.AlignHCenter
            visible: root.flow.permission === "unknown"
            text: qsTr("Dar permiso")
            onClicked: root.flow.askPermission()
        }

        ColumnLayout {
            objectName: "asking"
            Layout.alignment: Qt.AlignHCenter
            Layout.fillWidth: true
            visible: root.flow.permission === "asking"
            spacing: Brand.stepExtraSpacing
            BusyIndicator {
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: Brand.spinner
                implicitHeight: Brand.spinner
                padding: 0
                running: parent.visible
            }
            Text {
                Layout.fillWidth: true
                text: qsTr("Si macOS te lo pregunta, pulsa «Permitir».")
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                font.pixelSize: Brand.callout
                opacity: Brand.stepTextOpacity
                color: Brand.white
            }
        }

        ColumnLayout {
            objectName: "permissionDone"
            Layout.alignment: Qt.AlignHCenter
            Layout.fillWidth: true
            visible: root.flow.permission === "done"
            spacing: Brand.stepExtraSpacing
            Row {
                Layout.alignment: Qt.AlignHCenter
                spacing: Brand.labelSpacing
                Symbol {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "checkmark.circle.fill"
                    tint: Brand.mint
                    size: Brand.symbolHeadline
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("Listo")
                    font.pixelSize: Brand.headline
                    font.bold: true
                    color: Brand.mint
                }
            }
            Text {
                Layout.fillWidth: true
                text: qsTr("Si has pulsado «No permitir», puedes cambiarlo en Ajustes del Sistema.")
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                font.pixelSize: Brand.caption
                opacity: Brand.noteOpacity
                color: Brand.white
            }
        }

        ColumnLayout {
            objectName: "permissionFailed"
            Layout.alignment: Qt.AlignHCenter
            Layout.fillWidth: true
            visible: root.flow.permission === "failed"
            spacing: Brand.stepExtraSpacing
            Text {
                objectName: "failureMessage"
                Layout.fillWidth: true
                text: root.flow.permissionMessage
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                font.pixelSize: Brand.caption
                color: Brand.coral
            }
            Button {
                objectName: "openSettings"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Abrir Ajustes del Sistema")
                font.pixelSize: Brand.body
                onClicked: root.flow.openPrivacySettings()
            }
            Text {
                objectName: "settingsMessage"
                Layout.fillWidth: true
                visible: root.flow.settingsMessage !== ""
                text: root.flow.settingsMessage
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                font.pixelSize: Brand.caption
                color: Brand.coral
            }
            AbstractButton {
                id: retry
                objectName: "retry"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Reintentar")
                font.pixelSize: Brand.body
                opacity: down ? Brand.symbolButtonPressedOpacity : 1.0
                onClicked: root.flow.askPermission()
                contentItem: Text {
                    text: retry.text
                    font: retry.font
                    color: Brand.white
                }
            }
        }
    }
}
