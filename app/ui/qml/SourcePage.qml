import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Page 2: the source application, one row per running application; the selected one is ticked.
Item {
    id: root
    // ControllerModel: apps [{bundleID, name, icon}], selectedIndex, selectedBundle (written on a click).
    required property QtObject controller

    StepLayout {
        anchors.centerIn: parent
        width: parent.width
        symbol: "music.note"
        tint: Brand.amber
        title: qsTr("¿Qué app quieres enviar?")
        text: qsTr("Solo esta app sonará en los altavoces. Podrás cambiarla cuando quieras.")

        ListView {
            id: list
            objectName: "sourceList"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, Brand.sourceListHeight)
            model: root.controller.apps
            spacing: Brand.sourceListSpacing
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}

            delegate: AbstractButton {
                id: row
                required property var modelData
                required property int index
                readonly property bool selected: index === root.controller.selectedIndex

                objectName: "sourceRow"
                width: list.width
                leftPadding: Brand.sourceRowPaddingH
                rightPadding: Brand.sourceRowPaddingH
                topPadding: Brand.sourceRowPaddingV
                bottomPadding: Brand.sourceRowPaddingV
                Accessible.name: modelData.name
                onClicked: root.controller.selectedBundle = modelData.bundleID

                contentItem: RowLayout {
                    spacing: Brand.rowSpacing
                    Image {
                        Layout.preferredWidth: Brand.sourceRowIcon
                        Layout.preferredHeight: Brand.sourceRowIcon
                        source: row.modelData.icon
                        sourceSize: Qt.size(Brand.sourceRowIcon, Brand.sourceRowIcon)
                        fillMode: Image.PreserveAspectFit
                    }
                    Text {
                        Layout.fillWidth: true
                        text: row.modelData.name
                        elide: Text.ElideRight
                        font.pixelSize: Brand.body
                        color: Brand.white
                    }
                    Symbol {
                        objectName: "tick"
                        visible: row.selected
                        name: "checkmark.circle.fill"
                        tint: Brand.mint
                        size: Brand.symbolBody
                    }
                }
                background: Rectangle {
                    radius: Brand.sourceRowRadius
                    color: row.selected ? Brand.sourceRowSelectedFill : Brand.sourceRowFill
                }
            }
        }
    }
}
