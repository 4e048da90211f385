#include <gtest/gtest.h>

#include <QFile>

#include "app/ui/PanelPlacement.h"
#include "app/ui/PanelTexts.h"
#include "app/ui/Symbols.h"
#include "app/ui/Translator.h"
#include "speaker_browser/Speaker.h"

namespace brontide::ui {
namespace {

TEST(PanelTextsTest, VolumeFigureRoundsHalvesAwayFromZeroAndOnlySilenceShowsTheSlash) {
  const QString wave = "speaker.wave.2.fill", slash = "speaker.slash.fill";
  struct Case {
    double volume;
    bool muted;
    const char* figure;
    QString symbol;
  };
  for (const auto& c : {Case{0.125, false, "13 %", wave}, Case{0.994, false, "99 %", wave},
                        Case{0.995, false, "100 %", wave}, Case{0.004, false, "0 %", wave},
                        Case{0.0, false, "0 %", slash}, Case{0.6, true, "Silencio", slash}}) {
    EXPECT_EQ(volumeFigure(c.volume, c.muted), c.figure) << c.volume;
    EXPECT_EQ(volumeSymbol(c.volume, c.muted), c.symbol) << c.volume;
  }
}

TEST(TranslatorTest, AdaptsOnlyTheTextsThatNameTheOtherDesktop) {
  Translator translator;
  ASSERT_TRUE(translator.loadTable());
  // Whatever file shows the text, the table finds it; everything else is shown as its key.
  EXPECT_EQ(translator.translate("AnyView", "Abrir Ajustes del Sistema"), "Abrir ajustes de sonido");
  EXPECT_TRUE(translator.translate("ContentView", "Elegir altavoces").isEmpty());
}

TEST(SymbolsTest, EverySpeakerKindAndPanelSymbolIsBundled) {
  for (const auto* model : {"AudioAccessory5,1", "AudioAccessory1,1", "AppleTV6,2", "Mac14,2", ""}) {
    const auto symbol = QString::fromStdString(Speaker{"x", model}.symbol());
    const auto file = symbolFile(symbol);
    EXPECT_TRUE(!file.isEmpty() && QFile::exists(file)) << symbol.toStdString();
  }
  for (const auto* symbol : {"app.dashed", "hifispeaker.2", "hifispeaker.2.fill", "wifi.exclamationmark",
                             "speaker.slash.fill", "chevron.up.chevron.down", "waveform.badge.mic"}) {
    EXPECT_TRUE(QFile::exists(symbolFile(QString::fromLatin1(symbol)))) << symbol;
  }
  EXPECT_TRUE(symbolFile(u"no.such.symbol").isEmpty());
}

TEST(PanelPlacementTest, AnchorsToTheTrayIconElseTheCursorElseOpensAWindow) {
  const QRect screen(0, 0, 1920, 1080);
  const QSize panel(400, 600);
  using Mode = PanelPlacement::Mode;

  // A top bar: centred under the icon.
  EXPECT_EQ(placePanel(QRect(1000, 0, 24, 24), std::nullopt, screen, panel),
            (PanelPlacement{Mode::anchored, QPoint(811, 30)}));
  // A bottom panel: above the icon.
  EXPECT_EQ(placePanel(QRect(1000, 1056, 24, 24), std::nullopt, screen, panel),
            (PanelPlacement{Mode::anchored, QPoint(811, 450)}));
  // An icon in the corner: kept on screen.
  EXPECT_EQ(placePanel(QRect(1900, 0, 20, 24), std::nullopt, screen, panel).topLeft, QPoint(1512, 30));
  // No icon geometry (the D-Bus tray): the cursor.
  EXPECT_EQ(placePanel(QRect(), QPoint(100, 5), screen, panel).topLeft, QPoint(8, 12));
  // Neither: an ordinary window.
  EXPECT_EQ(placePanel(QRect(), std::nullopt, screen, panel).mode, Mode::window);
}

}  // namespace
}  // namespace brontide::ui
