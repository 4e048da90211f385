import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// What the speaker browser has found: searching, nothing found, or a count line and one row per speaker.
ColumnLayout {
    id: root
    // count, countText, searching, speakers [{name, kind, symbol}]
    required property QtObject browser
    // Icon tints, used by row position in turn; never empty.
    required property var colors
    readonly property bool scrolls: browser.count >= Brand.speakerScrollFrom

    Layout.fillWidth: true
    spacing: Brand.speakerListSpacing

    RowLayout {
        objectName: "searching"
        visible: root.browser.count === 0 && root.browser.searching
        spacing: Brand.speakerStateSpacing
        BusyIndicator {
            implicitWidth: Brand.spinner
            implicitHeight: Brand.spinner
            padding: 0
            running: parent.visible
        }
        Text {
            text: qsTr("Buscando altavoces en tu red…")
            font.pixelSize: Brand.caption
            color: Brand.secondary
        }
    }

    RowLayout {
        objectName: "notFound"
        visible: root.browser.count === 0 && !root.browser.searching
        Layout.fillWidth: true
        spacing: Brand.speakerStateSpacing
        Symbol {
            name: "wifi.exclamationmark"
            tint: Brand.orange
            size: Brand.symbolCaption
        }
        Text {
            Layout.fillWidth: true
            text: qsTr("No se ha encontrado ningún altavoz AirPlay. Comprueba que estén en la misma Wi‑Fi y que Brontide tiene permiso de red local.")
            wrapMode: Text.Wrap
            font.pixelSize: Brand.caption
            color: Brand.secondary
        }
    }

    Text {
        objectName: "countLine"
        visible: root.browser.count > 0
        text: root.browser.countText
        font.pixelSize: Brand.caption
        color: Brand.secondary
    }

    Flickable {
        id: rowsArea
        objectName: "rowsArea"
        visible: root.browser.count > 0
        Layout.fillWidth: true
        Layout.preferredHeight: root.scrolls ? Brand.speakerScrollHeight : rows.implicitHeight
        contentWidth: width
        contentHeight: rows.implicitHeight
        interactive: root.scrolls
        clip: root.scrolls
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            policy: root.scrolls ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        Column {
            id: rows
            objectName: "rows"
            width: rowsArea.width
            spacing: Brand.speakerRowsSpacing

            Repeater {
                model: root.browser.speakers
                Rectangle {
                    id: row
                    required property var modelData
                    required property int index
                    readonly property color tint: root.colors[index % root.colors.length]

                    objectName: "speakerRow"
                    width: rows.width
                    implicitHeight: rowContent.implicitHeight + 2 * Brand.speakerRowPaddingV
                    radius: Brand.speakerRowRadius
                    color: Qt.rgba(Brand.quaternary.r, Brand.quaternary.g, Brand.quaternary.b, Brand.quaternary.a * Brand.speakerRowFillOpacity)

                    RowLayout {
                        id: rowContent
                        anchors.fill: parent
                        anchors.leftMargin: Brand.speakerRowPaddingH
                        anchors.rightMargin: Brand.speakerRowPaddingH
                        anchors.topMargin: Brand.speakerRowPaddingV
                        anchors.bottomMargin: Brand.speakerRowPaddingV
                        spacing: Brand.speakerRowSpacing

                        Rectangle {
                            implicitWidth: Brand.speakerTile
                            implicitHeight: Brand.speakerTile
                            radius: Brand.speakerTileRadius
                            color: Qt.rgba(row.tint.r, row.tint.g, row.tint.b, Brand.tintFillOpacity)
                            Symbol {
                                anchors.centerIn: parent
                                name: row.modelData.symbol
                                tint: row.tint
                                size: Brand.symbolTile
                            }
                        }
                        Text {
                            Layout.fillWidth: true
                            text: row.modelData.name
                            elide: Text.ElideRight
                            maximumLineCount: 1
                            font.pixelSize: Brand.callout
                            color: Brand.text
                        }
                        Text {
                            text: row.modelData.kind
                            font.pixelSize: Brand.caption
                            color: Brand.secondary
                        }
                    }
                }
            }
        }
    }
}
