import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects

// Brontide's AirPlay menu: "Este ordenador" and every receiver, each with its box, state and volume.
// Opens below the picker, centred on it, and stays inside the window.
Popup {
    id: root
    required property QtObject routes

    x: (parent.width - width) / 2
    y: parent.height + Brand.routeMenuGap
    width: Brand.routeMenuWidth
    margins: Brand.routeMenuMargin
    padding: Brand.routeMenuPadding
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    background: Item {
        Rectangle {
            id: shape
            anchors.fill: parent
            radius: Brand.popoverRadius
            color: Brand.window
            border.color: Brand.divider
            border.width: 1
            layer.enabled: true
            layer.effect: DropShadow {
                radius: Brand.shadowRadius
                verticalOffset: Brand.shadowOffset
                color: Brand.shadow
                transparentBorder: true
            }
        }
    }

    contentItem: Flickable {
        implicitHeight: Math.min(rows.implicitHeight, Brand.routeMenuMaxHeight)
        contentWidth: width
        contentHeight: rows.implicitHeight
        interactive: contentHeight > height
        clip: interactive
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: parent.interactive ? ScrollBar.AsNeeded : ScrollBar.AlwaysOff }

        ColumnLayout {
            id: rows
            width: parent.width
            spacing: Brand.routeRowSpacing

            Repeater {
                id: rowRepeater
                model: root.routes
                RouteRow {
                    Layout.fillWidth: true
                    onToggled: (on) => root.routes.select(name, on)
                    onVolumeMoved: (value) => root.routes.setVolume(name, value)
                    onForgetPassword: root.routes.forgetPassword(name)
                }
            }
            Text {
                objectName: "ownVolumeHint"
                visible: root.routes.receiversKeepTheirVolume === true && rowRepeater.count > 1
                Layout.fillWidth: true
                Layout.leftMargin: Brand.routeRowPaddingH
                Layout.rightMargin: Brand.routeRowPaddingH
                text: qsTr("Con esta versión de PipeWire el altavoz mantiene su propio volumen.")
                wrapMode: Text.WordWrap
                font.pixelSize: Brand.caption
                color: Brand.secondary
            }
        }
    }
}
