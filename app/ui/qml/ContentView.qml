import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Brontide.Motion

// The panel: the header with state, level and start/stop, then the source, speakers and volume cards.
ColumnLayout {
    id: root
    required property QtObject controller
    required property QtObject speakers
    required property QtObject updates
    // The AirPlay menu's rows (RouteListModel).
    required property QtObject routes
    signal quitRequested()

    width: Brand.panelWidth
    spacing: 0

    // Times the header's level bars and live badge, only while the panel shows a capture.
    FrameClock {
        id: clock
        running: root.controller.running && root.Window.visibility !== Window.Hidden
    }
    Shortcut {
        sequence: "Space"
        onActivated: root.controller.toggleRunning()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: root.quitRequested()
    }

    Item {
        objectName: "header"
        Layout.fillWidth: true
        implicitHeight: header.implicitHeight + 2 * Brand.headerPadding

        DiagonalGradient {
            anchors.fill: parent
            from: Brand.headerTop
            to: Brand.night
        }
        ColumnLayout {
            id: header
            anchors.fill: parent
            anchors.margins: Brand.headerPadding
            spacing: Brand.headerSpacing

            RowLayout {
                spacing: Brand.headerRowSpacing
                Image {
                    Layout.preferredWidth: Brand.headerIcon
                    Layout.preferredHeight: Brand.headerIcon
                    source: Brand.appIcon
                    sourceSize: Qt.size(Brand.headerIcon, Brand.headerIcon)
                }
                ColumnLayout {
                    spacing: Brand.titleSpacing
                    Text {
                        text: Brand.productName
                        font.pixelSize: Brand.title2
                        font.bold: true
                        color: Brand.white
                    }
                    Text {
                        text: qsTr("Una app. Todas tus salas.")
                        font.pixelSize: Brand.callout
                        opacity: Brand.subtitleOpacity
                        color: Brand.white
                    }
                }
                Item { Layout.fillWidth: true }
                StatusPill {
                    objectName: "statusPill"
                    stateKind: root.controller.stateKind
                    label: root.controller.stateLabel
                    clock: clock
                }
            }

            RowLayout {
                LevelBars {
                    objectName: "levelBars"
                    level: root.controller.level
                    clock: clock
                }
                Item { Layout.fillWidth: true }
                AbstractButton {
                    id: startStop
                    objectName: "startStop"
                    text: root.controller.running ? qsTr("Detener") : qsTr("Empezar")
                    leftPadding: Brand.headerButtonPaddingH
                    rightPadding: Brand.headerButtonPaddingH
                    topPadding: Brand.headerButtonPaddingV
                    bottomPadding: Brand.headerButtonPaddingV
                    font.pixelSize: Brand.headline
                    font.bold: true
                    focusPolicy: Qt.NoFocus
                    opacity: down ? Brand.pressedOpacity : 1.0
                    Accessible.name: text
                    onClicked: root.controller.toggleRunning()

                    contentItem: Row {
                        spacing: Brand.labelSpacing
                        Symbol {
                            anchors.verticalCenter: parent.verticalCenter
                            name: root.controller.running ? "stop.fill" : "play.fill"
                            tint: Brand.white
                            size: Brand.symbolHeadline
                        }
                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            text: startStop.text
                            font: startStop.font
                            color: Brand.white
                        }
                    }
                    background: Rectangle {
                        radius: height / 2
                        color: Brand.stopFill
                        Rectangle {
                            anchors.fill: parent
                            radius: height / 2
                            visible: !root.controller.running
                            gradient: Brand.gradient
                        }
                    }
                }
            }

            Text {
                objectName: "detail"
                visible: root.controller.detail !== ""
                Layout.fillWidth: true
                text: root.controller.detail
                wrapMode: Text.Wrap
                font.pixelSize: Brand.caption
                opacity: Brand.subtitleOpacity
                color: Brand.white
            }

            MenuHint {
                objectName: "silenceRow"
                visible: root.controller.silenceText !== ""
                symbol: "speaker.slash.fill"
                tint: Brand.amber
                textColor: Brand.white
                text: root.controller.silenceText
            }

            MenuHint {
                objectName: "settingsNotice"
                visible: root.controller.settingsNotice !== ""
                symbol: "gearshape"
                tint: Brand.coral
                textColor: Brand.white
                text: root.controller.settingsNotice
            }
        }
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: body.implicitHeight + 2 * Brand.bodyPadding
        color: Brand.window
        // Drawn into a texture when it changes, then one quad a frame while the header moves.
        layer.enabled: true

        ColumnLayout {
            id: body
            anchors.fill: parent
            anchors.margins: Brand.bodyPadding
            spacing: Brand.bodySpacing

            Card {
                objectName: "sourceCard"
                title: qsTr("Fuente")
                systemImage: "music.note"

                RowLayout {
                    Layout.fillWidth: true
                    spacing: Brand.rowSpacing
                    Image {
                        objectName: "sourceIcon"
                        Layout.preferredWidth: Brand.sourceIcon
                        Layout.preferredHeight: Brand.sourceIcon
                        source: root.controller.sourceIcon
                        sourceSize: Qt.size(Brand.sourceIcon, Brand.sourceIcon)
                        fillMode: Image.PreserveAspectFit
                    }
                    SourcePicker {
                        objectName: "sourcePicker"
                        Layout.fillWidth: true
                        apps: root.controller.apps
                        selectedIndex: root.controller.selectedIndex
                        enabled: !root.controller.running
                        onPicked: (bundleID) => root.controller.selectedBundle = bundleID
                    }
                    SymbolButton {
                        objectName: "refreshApps"
                        symbol: "arrow.clockwise"
                        tint: Brand.text
                        size: Brand.symbolCallout
                        help: qsTr("Actualizar la lista de apps")
                        enabled: !root.controller.running
                        onClicked: root.controller.refreshApps()
                    }
                }
                Text {
                    Layout.fillWidth: true
                    text: qsTr("Solo esta app se envía a los altavoces. El resto del Mac sigue sonando por su salida normal.")
                    wrapMode: Text.Wrap
                    font.pixelSize: Brand.caption
                    color: Brand.secondary
                }
            }

            Card {
                objectName: "destinationCard"
                title: qsTr("Altavoces")
                systemImage: "hifispeaker.2.fill"

                BigButton {
                    objectName: "startRow"
                    visible: !root.controller.running
                    symbol: "play.fill"
                    title: qsTr("Empezar")
                    subtitle: qsTr("Después elige tus altavoces aquí")
                    onClicked: root.controller.start()
                }
                BigButton {
                    objectName: "chooseSpeakersRow"
                    visible: root.controller.running
                    symbol: "airplayaudio"
                    title: qsTr("Elegir altavoces")
                    subtitle: qsTr("Abre el menú de AirPlay")
                    trailing: "chevron.up.chevron.down"
                    help: qsTr("Abrir el menú de AirPlay")
                    down: routePicker.pressed

                    // A click anywhere on the row opens the AirPlay menu.
                    RoutePicker {
                        id: routePicker
                        objectName: "routePicker"
                        anchors.fill: parent
                        routes: root.routes
                        transparent: true
                    }
                }
                ColumnLayout {
                    objectName: "hints"
                    visible: root.controller.running
                    Layout.fillWidth: true
                    spacing: Brand.hintSpacing
                    MenuHint {
                        symbol: "checkmark.square.fill"
                        tint: Brand.mint
                        text: qsTr("Marca la casilla de cada altavoz que quieras que suene.")
                    }
                    MenuHint {
                        symbol: "slider.horizontal.3"
                        tint: Brand.amber
                        text: qsTr("El deslizador junto a cada uno ajusta solo ese altavoz.")
                    }
                }
                SpeakerList {
                    objectName: "speakerList"
                    browser: root.speakers
                    colors: Brand.speakerColors
                }
            }

            Card {
                objectName: "volumeCard"
                title: qsTr("Volumen general")
                systemImage: "speaker.wave.2.fill"

                RowLayout {
                    Layout.fillWidth: true
                    spacing: Brand.rowSpacing
                    SymbolButton {
                        objectName: "mute"
                        Layout.preferredWidth: Brand.muteBox
                        symbol: root.controller.volumeSymbol
                        tint: root.controller.muted ? Brand.coral : Brand.secondary
                        size: Brand.symbolBody
                        help: root.controller.muted ? qsTr("Quitar silencio") : qsTr("Silenciar")
                        onClicked: root.controller.toggleMuted()
                    }
                    BrandSlider {
                        objectName: "volumeSlider"
                        Layout.fillWidth: true
                        value: root.controller.volume
                        opacity: root.controller.muted ? Brand.mutedSliderOpacity : 1.0
                        onMoved: root.controller.volume = value
                    }
                    Text {
                        objectName: "volumeFigure"
                        Layout.preferredWidth: Brand.figureBox
                        horizontalAlignment: Text.AlignRight
                        text: root.controller.volumeText
                        font.pixelSize: Brand.callout
                        color: root.controller.muted ? Brand.coral : Brand.secondary
                    }
                }
                Text {
                    Layout.fillWidth: true
                    text: qsTr("Sube o baja todos los altavoces a la vez; el resto del Mac no cambia. Se oye en unos 2 s (búfer de AirPlay).")
                    wrapMode: Text.Wrap
                    font.pixelSize: Brand.caption
                    color: Brand.secondary
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: Brand.bottomRowSpacing
                Item { Layout.fillWidth: true }
                SymbolButton {
                    id: optionsButton
                    objectName: "optionsButton"
                    symbol: "gearshape"
                    tint: Brand.secondary
                    help: qsTr("Opciones")
                    onClicked: options.visible = !options.visible

                    OptionsPopover {
                        id: options
                        objectName: "optionsPopover"
                        controller: root.controller
                        updates: root.updates
                        onQuitRequested: root.quitRequested()
                    }
                }
            }
        }
    }
}
