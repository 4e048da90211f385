pragma Singleton
import QtQuick

// The product's name, colours, type sizes, spacings and icons; no other file holds a literal colour or size.
QtObject {
    readonly property string productName: "Brontide"
    readonly property url appIcon: "qrc:/brontide/icons/brontide.svg"

    readonly property color violet: Qt.rgba(0.48, 0.36, 1.0, 1.0)
    readonly property color coral: Qt.rgba(1.0, 0.42, 0.55, 1.0)
    readonly property color amber: Qt.rgba(1.0, 0.76, 0.29, 1.0)
    readonly property color mint: Qt.rgba(0.24, 0.9, 0.76, 1.0)
    readonly property color night: Qt.rgba(0.07, 0.08, 0.18, 1.0)
    readonly property Gradient gradient: Gradient {
        orientation: Gradient.Horizontal
        GradientStop { position: 0.0; color: violet }
        GradientStop { position: 1.0; color: coral }
    }
    readonly property color headerTop: Qt.rgba(0.13, 0.09, 0.36, 1.0)
    readonly property var speakerColors: [coral, amber, mint, violet]

    // The desktop's colours: secondary is the palette's placeholder text, quaternary text at 0.18.
    readonly property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property color window: palette.window
    readonly property color cardFill: palette.base
    readonly property color text: palette.windowText
    readonly property color secondary: palette.placeholderText
    readonly property color quaternary: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.18)
    readonly property color divider: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.12)
    readonly property color white: "#ffffff"
    readonly property color clear: "transparent"
    readonly property color orange: "#ff9500"
    readonly property color red: "#ff3b30"
    readonly property color pillFill: Qt.rgba(1, 1, 1, 0.1)
    readonly property color stopFill: Qt.rgba(1, 1, 1, 0.15)
    readonly property color shadow: Qt.rgba(0, 0, 0, 0.28)
    readonly property int shadowRadius: 16
    readonly property int shadowOffset: 4

    // Text styles, in pixels.
    readonly property int largeTitle: 26
    readonly property int title2: 17
    readonly property int title3: 15
    readonly property int headline: 13
    readonly property int body: 13
    readonly property int callout: 12
    readonly property int caption: 10
    // Symbols drawn beside text of each style (the symbol files carry their own margin).
    readonly property int symbolTitle2: 22
    readonly property int symbolHeadline: 17
    readonly property int symbolBody: 17
    readonly property int symbolCallout: 16
    readonly property int symbolCaption: 13
    readonly property int symbolTile: 15
    readonly property int symbolStep: 44
    readonly property int labelSpacing: 5

    // Panel.
    readonly property int panelWidth: 400
    readonly property int headerPadding: 18
    readonly property int headerSpacing: 14
    readonly property int headerRowSpacing: 12
    readonly property int headerIcon: 44
    readonly property int titleSpacing: 2
    readonly property int headerButtonPaddingH: 18
    readonly property int headerButtonPaddingV: 9
    readonly property real subtitleOpacity: 0.7
    readonly property int bodyPadding: 16
    readonly property int bodySpacing: 12
    readonly property int rowSpacing: 10
    readonly property int sourceIcon: 28
    readonly property int muteBox: 22
    readonly property int figureBox: 58
    readonly property real mutedSliderOpacity: 0.4
    readonly property int hintSpacing: 5
    readonly property int bottomRowSpacing: 6
    readonly property int optionsWidth: 340
    readonly property int optionsPadding: 16
    readonly property int optionsSpacing: 10
    readonly property int popoverRadius: 10
    readonly property int popoverArrow: 8
    readonly property int popoverOverhang: 10
    readonly property int tooltipDelay: 700
    readonly property int onboardingWidth: 400
    readonly property int onboardingHeight: 500

    // Components.
    readonly property int buttonPaddingH: 18
    readonly property int buttonPaddingV: 8
    readonly property real pressedOpacity: 0.8
    readonly property int cardPadding: 14
    readonly property int cardSpacing: 10
    readonly property int cardRadius: 14
    readonly property int pillPaddingH: 10
    readonly property int pillPaddingV: 5
    readonly property int pillSpacing: 6
    readonly property int pillDot: 7
    readonly property int pulseDuration: 900
    readonly property real pulseScale: 1.5
    readonly property real pulseOpacity: 0.6
    readonly property int hintSymbolBox: 16
    readonly property int hintTextSpacing: 8
    readonly property int levelBarCount: 24
    readonly property int levelBarWidth: 5
    readonly property int levelBarSpacing: 3
    readonly property int levelBox: 22
    readonly property real levelBarBase: 6
    readonly property real levelBarStep: 0.6
    readonly property real levelBarRadius: 1.5
    readonly property real levelScale: 0.9
    readonly property int levelMintBars: 14
    readonly property int levelAmberBars: 20
    readonly property real unlitOpacity: 0.15
    readonly property int levelAnimation: 50
    readonly property int bigButtonSpacing: 12
    readonly property int bigButtonSymbolBox: 28
    readonly property int bigButtonTextSpacing: 1
    readonly property int bigButtonPaddingH: 14
    readonly property int bigButtonPaddingV: 11
    readonly property int bigButtonRadius: 12
    readonly property real bigButtonSubtitleOpacity: 0.85
    readonly property int stepSpacing: 16
    readonly property int stepSymbolBox: 76
    readonly property int stepSymbolRadius: 22
    readonly property real stepTextOpacity: 0.75
    readonly property int stepExtraSpacing: 10
    readonly property int stepExtraPadding: 6
    readonly property real tintFillOpacity: 0.15

    // Speaker list.
    readonly property int speakerListSpacing: 6
    readonly property int speakerRowsSpacing: 4
    readonly property int speakerStateSpacing: 8
    readonly property int speakerScrollFrom: 6
    readonly property int speakerScrollHeight: 200
    readonly property int speakerTile: 20
    readonly property int speakerTileRadius: 5
    readonly property int speakerRowSpacing: 10
    readonly property int speakerRowPaddingH: 8
    readonly property int speakerRowPaddingV: 4
    readonly property int speakerRowRadius: 9
    readonly property real speakerRowFillOpacity: 0.5
    readonly property int spinner: 14

    // Controls.
    readonly property int switchWidth: 30
    readonly property int switchHeight: 17
    readonly property int switchKnobInset: 2
    readonly property int sliderTrack: 4
    readonly property int sliderHandle: 16
    readonly property int pickerHeight: 24
    readonly property int pickerRadius: 6
    readonly property int pickerPaddingH: 8
    readonly property int symbolButton: 22
    readonly property int symbolButtonRadius: 5
    readonly property real symbolButtonPressedOpacity: 0.6
    readonly property real disabledOpacity: 0.45
    readonly property color controlBorder: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.2)
    readonly property color track: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.14)
    readonly property color hover: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.07)

    // Onboarding.
    readonly property int pagePaddingH: 28
    readonly property int bottomBarPadding: 20
    readonly property int pageAnimation: 250
    // Ease-in-out, as a cubic Bézier.
    readonly property var easeInOut: [0.42, 0, 0.58, 1, 1, 1]
    readonly property int dotSpacing: 6
    readonly property int dotHeight: 6
    readonly property int dotCurrentWidth: 18
    readonly property real dotCurrentOpacity: 0.9
    readonly property real dotOpacity: 0.25
    // A critically damped spring of 0.3 s response: stiffness (2π/0.3)² and damping 2·√stiffness, per 16 ms
    // step of SpringAnimation.
    readonly property real dotSpring: 7.0
    readonly property real dotDamping: 0.67
    readonly property real backOpacity: 0.7
    readonly property int welcomeSpacing: 18
    readonly property int welcomeIcon: 120
    readonly property color welcomeShadow: Qt.rgba(violet.r, violet.g, violet.b, 0.6)
    readonly property int welcomeShadowRadius: 30
    readonly property real noteOpacity: 0.6
    readonly property int sourceListHeight: 170
    readonly property int sourceListSpacing: 4
    readonly property int sourceRowIcon: 24
    readonly property int sourceRowPaddingH: 12
    readonly property int sourceRowPaddingV: 8
    readonly property int sourceRowRadius: 10
    readonly property color sourceRowSelectedFill: Qt.rgba(1, 1, 1, 0.14)
    readonly property color sourceRowFill: Qt.rgba(1, 1, 1, 0.05)
    readonly property int illustrationCircle: 36
    readonly property real illustrationArrowOpacity: 0.5
    readonly property int symbolTitle3: 19
    readonly property int menuBarWidth: 260
    readonly property int menuBarHeight: 34
    readonly property int menuBarRadius: 10
    readonly property color menuBarFill: Qt.rgba(1, 1, 1, 0.08)
    readonly property int menuBarInset: 12
    readonly property int menuBarSpacing: 14
    readonly property int menuBarBelow: 30
    readonly property int trayTilePadding: 5
    readonly property int trayTileRadius: 6
    readonly property int trayArrowDrop: 38
    readonly property int closeButton: 20
    readonly property int closeButtonInset: 12
    readonly property color closeButtonFill: Qt.rgba(1, 1, 1, 0.12)

    // AirPlay menu.
    readonly property int routePickerSize: 28
    readonly property int routeMenuWidth: 300
    readonly property int routeMenuGap: 6
    readonly property int routeMenuMargin: 8
    readonly property int routeMenuPadding: 8
    readonly property int routeMenuMaxHeight: 320
    readonly property int routeRowSpacing: 2
    readonly property int routeRowPaddingH: 8
    readonly property int routeRowPaddingV: 6
    readonly property int routeRowRadius: 6
    readonly property int routeSliderIndent: 61

    // Update check window.
    readonly property int updateWindowWidth: 320
    readonly property int updateWindowPadding: 20
    readonly property int updateIcon: 48
}
