import QtQuick
import QtQuick.Layouts

// The answer of "Buscar actualizaciones…": the latest version, a newer one with the way to its page,
// or a failed check.
FixedSizeWindow {
    id: window
    // Updates: result, newVersionPage, openNewVersionPage().
    required property QtObject updates
    readonly property bool offersNewVersion: updates.newVersionPage.toString() !== ""

    title: Brand.productName
    color: Brand.window
    flags: Qt.Dialog
    fixedWidth: Brand.updateWindowWidth
    fixedHeight: content.implicitHeight + 2 * Brand.updateWindowPadding

    Shortcut {
        sequence: "Escape"
        onActivated: window.close()
    }

    ColumnLayout {
        id: content
        anchors.fill: parent
        anchors.margins: Brand.updateWindowPadding
        spacing: Brand.bodySpacing

        RowLayout {
            spacing: Brand.headerRowSpacing
            Image {
                Layout.preferredWidth: Brand.updateIcon
                Layout.preferredHeight: Brand.updateIcon
                source: Brand.appIcon
                sourceSize: Qt.size(Brand.updateIcon, Brand.updateIcon)
            }
            Text {
                objectName: "updateResult"
                Layout.fillWidth: true
                text: window.updates.result
                wrapMode: Text.Wrap
                font.pixelSize: Brand.body
                color: Brand.text
            }
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Brand.bodySpacing
            Item { Layout.fillWidth: true }
            TextButton {
                objectName: "later"
                visible: window.offersNewVersion
                text: qsTr("Más tarde")
                onClicked: window.close()
            }
            BrandButton {
                objectName: "download"
                visible: window.offersNewVersion
                text: qsTr("Descargar")
                onClicked: window.updates.openNewVersionPage()
            }
            BrandButton {
                objectName: "dismiss"
                visible: !window.offersNewVersion
                text: qsTr("Entendido")
                onClicked: window.close()
            }
        }
    }
}
