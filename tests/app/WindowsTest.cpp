// The tray application's windows on the test display (X11, OpenGL): the panel in its main states on stub view
// models, and a first launch clicked through over a controller on fakes. Each view is also saved as a PNG in the
// build folder and compared with tests/app/reference/<release> (debian12, debian13);
// BRONTIDE_UPDATE_REFERENCES=1 rewrites that release's references.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSysInfo>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "DelegateRig.h"
#include "app/ui/QmlSetup.h"
#include "app/ui/Symbols.h"

namespace brontide::ui {
namespace {

using namespace testing;

// Text antialiasing and hinting differ a little between machines; broken layout moves whole blocks.
constexpr int kChannelThreshold = 64;
constexpr double kMaxShare = 0.003;

// Share of pixels that differ clearly (any channel by more than `threshold`), marked red in `diff`;
// 1 when the sizes differ.
double differingShare(const QImage& a, const QImage& b, int threshold, QImage* diff) {
  if (a.size() != b.size()) return 1.0;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  *diff = QImage(x.size(), QImage::Format_RGB32);
  diff->fill(Qt::white);
  qint64 differing = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      if (std::abs(qRed(p[col]) - qRed(q[col])) > threshold || std::abs(qGreen(p[col]) - qGreen(q[col])) > threshold ||
          std::abs(qBlue(p[col]) - qBlue(q[col])) > threshold) {
        ++differing;
        diff->setPixel(col, row, qRgb(255, 0, 0));
      }
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(x.width()) * x.height());
}

QString screenshotsDir() { return QDir::currentPath() + QStringLiteral("/screenshots/"); }

// One reference set per release: fonts, Qt's rasteriser and the style differ between them.
QString referencesDir() {
  return QStringLiteral(BRONTIDE_TEST_DIR "/reference/") + QSysInfo::productType() +
         QSysInfo::productVersion().section(u'.', 0, 0) + u'/';
}

// Saves the window's grab as screenshots/<name>.png in the build folder and compares it with the committed
// reference; BRONTIDE_UPDATE_REFERENCES=1 rewrites the reference instead. False on a clear difference.
bool matchesReference(QQuickWindow* window, const QString& name) {
  const QString references = referencesDir();
  const QString output = screenshotsDir();
  QDir().mkpath(output);
  QTest::qWait(50);  // lets the last frame settle; the grab below renders synchronously
  const QImage shot = window->grabWindow();
  shot.save(output + name + ".png");
  if (qEnvironmentVariableIntValue("BRONTIDE_UPDATE_REFERENCES") == 1) {
    QDir().mkpath(references);
    shot.save(references + name + ".png");
    std::printf("updated %s\n", qPrintable(references + name + ".png"));
    return true;
  }
  const QImage reference(references + name + ".png");
  if (reference.isNull()) {
    std::printf("FAIL %s: no reference %s (BRONTIDE_UPDATE_REFERENCES=1 makes it)\n", qPrintable(name),
                qPrintable(references + name + ".png"));
    return false;
  }
  QImage diff;
  const double share = differingShare(shot, reference, kChannelThreshold, &diff);
  if (share > kMaxShare) {
    if (!diff.isNull()) diff.save(output + name + "-diff.png");
    std::printf("FAIL %s: %.2f %% of pixels differ from the reference (size %dx%d, reference %dx%d)\n",
                qPrintable(name), share * 100, shot.width(), shot.height(), reference.width(), reference.height());
    return false;
  }
  std::printf("ok %s: %.3f %% of pixels differ\n", qPrintable(name), share * 100);
  return true;
}

struct Scene {
  const char* name;
  QVariantMap controller;
  QVariantList speakers;
  bool options = false;
};

QVariantMap speaker(const char* name, const char* kind, const char* symbol) {
  return {{"name", QString::fromUtf8(name)}, {"kind", QString::fromUtf8(kind)}, {"symbol", symbol}};
}

QList<Scene> scenes() {
  const QVariantList three{speaker("Salón", "HomePod", "homepod.fill"),
                           speaker("Dormitorio", "HomePod mini", "homepodmini.fill"),
                           speaker("Estudio", "Altavoz AirPlay", "hifispeaker.fill")};
  return {
      {"panel-stopped", {{"volume", 0.8}, {"volumeText", "80 %"}}, {}, false},
      {"panel-waiting",
       {{"running", true}, {"stateKind", "waiting"}, {"stateLabel", "Esperando audio"},
        {"detail", QString::fromUtf8("Abre Spotify y dale al play.")}, {"volume", 0.8}, {"volumeText", "80 %"}},
       {speaker("Cocina", "HomePod mini", "homepodmini.fill")}, false},
      {"panel-live",
       {{"running", true}, {"stateKind", "live"}, {"stateLabel", "En directo"},
        {"detail", QString::fromUtf8("Spotify · 48 kHz · AAC 256 kbps")}, {"level", 0.62}, {"volume", 0.65},
        {"volumeText", "65 %"}},
       three, false},
      {"panel-silent",
       {{"running", true}, {"stateKind", "live"}, {"stateLabel", "En directo"},
        {"detail", QString::fromUtf8("Spotify · 48 kHz · AAC 256 kbps")},
        {"silenceText", QString::fromUtf8("No llega sonido de Spotify. ¿Está en pausa?")}, {"volume", 0.65},
        {"volumeText", "65 %"}},
       three, false},
      {"panel-error",
       {{"running", true}, {"stateKind", "error"}, {"stateLabel", "Error"},
        {"detail", QString::fromStdString(userText(Error{ErrorCode::NoSoundServer, {}}))},
        {"volume", 0.65}, {"muted", true}, {"volumeText", "Silencio"}, {"volumeSymbol", "speaker.slash.fill"}},
       three, false},
      {"panel-options", {{"autoStart", true}, {"volume", 0.8}, {"volumeText", "80 %"}}, three, true},
  };
}

std::unique_ptr<QObject> make(QQmlEngine& engine, const QUrl& file, const QVariantMap& properties = {}) {
  QQmlComponent component(&engine, file);
  std::unique_ptr<QObject> object(component.createWithInitialProperties(properties));
  EXPECT_TRUE(object) << component.errorString().toStdString();
  return object;
}

class FirstLaunchTest : public ::testing::Test {
 protected:
  // The onboarding window of a first launch, shown.
  QQuickWindow* launch() {
    rig.delegate->launch();
    QQuickWindow* window = rig.delegate->onboardingWindow();
    EXPECT_TRUE(window && QTest::qWaitForWindowExposed(window));
    return window;
  }
  static int step(QQuickWindow* onboarding) {
    return onboarding->property("flow").value<QObject*>()->property("step").toInt();
  }
  // The source page's rows by name in list order; with `tickedOnly` only the ticked ones.
  static QStringList sourceRows(QQuickWindow* onboarding, bool tickedOnly = false) {
    auto rows = visibleItems(onboarding, "sourceRow");
    std::ranges::sort(rows, {}, [](QQuickItem* row) { return row->property("index").toInt(); });
    QStringList names;
    for (auto* row : rows)
      if (!tickedOnly || row->findChild<QQuickItem*>(QStringLiteral("tick"))->isVisible())
        names.append(row->property("modelData").toMap().value("name").toString());
    return names;
  }
  static QQuickItem* sourceRow(QQuickWindow* onboarding, const QString& name) {
    return visibleItems(onboarding, "sourceRow", [&](QQuickItem* row) {
      return row->property("modelData").toMap().value("name") == name;
    }).value(0);
  }

  DelegateRig rig;
};

TEST(PanelScreenshots, EachStateMatchesItsReference) {
  QQmlEngine engine;
  prepareEngine(engine);
  const auto stub = [](const char* file) {
    return QUrl::fromLocalFile(QStringLiteral(BRONTIDE_TEST_DIR "/stubs/") + QLatin1String(file));
  };
  for (const auto& scene : scenes()) {
    auto controller = make(engine, stub("StubController.qml"), scene.controller);
    auto speakers = make(engine, stub("StubSpeakers.qml"), {{"speakers", scene.speakers}});
    auto updates = make(engine, stub("StubUpdates.qml")), routes = make(engine, stub("StubRoutes.qml"));
    auto object = make(engine, QUrl(QStringLiteral("qrc:/qt/qml/Brontide/PanelWindow.qml")),
                       {{"controller", QVariant::fromValue(controller.get())},
                        {"speakers", QVariant::fromValue(speakers.get())},
                        {"updates", QVariant::fromValue(updates.get())},
                        {"routes", QVariant::fromValue(routes.get())}});
    auto* window = qobject_cast<QQuickWindow*>(object.get());
    ASSERT_NE(window, nullptr);
    window->setFlags(Qt::Tool | Qt::FramelessWindowHint);
    window->setPosition(0, 0);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    if (scene.options) {
      ASSERT_TRUE(QMetaObject::invokeMethod(window->findChild<QObject*>(QStringLiteral("optionsPopover")), "open"));
    }
    EXPECT_TRUE(matchesReference(window, QString::fromLatin1(scene.name)));
  }
}

// The tray icon where the theme lacks the symbolic one, stopped then streaming, on a light and on a dark 24 px
// panel (saved as screenshots/tray-light.png and tray-dark.png).
TEST(TrayScreenshots, TheFallbackReadsOnLightAndDarkPanelsAndFillsWhileStreaming) {
  const auto lightness = [](QRgb pixel) { return qGray(pixel); };
  const auto count = [](const QImage& image, QRect area, auto&& counts) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) n += counts(image.pixel(x, y)) ? 1 : 0;
    }
    return n;
  };
  const QImage stopped = outlinedTraySymbol(false, 24), streaming = outlinedTraySymbol(true, 24);
  const auto white = [](QRgb pixel) { return qAlpha(pixel) == 255 && qGray(pixel) > 230; };
  EXPECT_GT(count(streaming, streaming.rect(), white), 2 * count(stopped, stopped.rect(), white))
      << "streaming fills the symbol";

  QDir().mkpath(screenshotsDir());
  for (const auto& [name, panel] : {std::pair{"tray-light", QColor(0xf6, 0xf5, 0xf4)}, std::pair{"tray-dark", QColor(0x23, 0x26, 0x29)}}) {
    QImage strip(72, 24, QImage::Format_RGB32);
    strip.fill(panel);
    QPainter painter(&strip);
    painter.drawImage(12, 0, stopped);
    painter.drawImage(44, 0, streaming);
    painter.end();
    strip.save(screenshotsDir() + QLatin1String(name) + ".png");
    // Readable: both icons have a good share of pixels far from the panel's own lightness.
    const auto stands = [&](QRgb pixel) { return std::abs(lightness(pixel) - qGray(panel.rgb())) > 110; };
    for (const int x : {12, 44}) EXPECT_GT(count(strip, QRect(x, 0, 24, 24), stands), 60) << name << " at " << x;
  }
}

TEST_F(FirstLaunchTest, OnboardingToStreamingThenTheAirPlayMenu) {
  rig.discoverReceivers();
  QQuickWindow* onboarding = launch();
  ASSERT_NE(onboarding, nullptr);
  EXPECT_EQ(rig.delegate->panel(), nullptr) << "the test display has no tray host: the panel waits for onboarding";
  EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed()) << "closing a window never quits a tray application";
  rig.delegate->showOnboarding();
  EXPECT_EQ(rig.delegate->onboardingWindow(), onboarding) << "an open window is brought forward, not doubled";
  onboarding->setPosition(0, 0);

  const auto page = [&](const char* reference, const char* primaryText) {
    ASSERT_TRUE(pageSettled(onboarding));
    EXPECT_TRUE(matchesReference(onboarding, QString::fromLatin1(reference)));
    auto* primary = visibleItem(onboarding, "primary");
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->property("text").toString(), QString::fromUtf8(primaryText));
  };
  const auto next = [&] { click(onboarding, visibleItem(onboarding, "primary")); };
  page("onboarding-1-welcome", "Comenzar");
  next();

  // The permission page: a failed test capture says why, opens the settings and can be retried.
  page("onboarding-2-permission", "Siguiente");
  const Error refused{ErrorCode::CaptureNotCreated, "No such file or directory"};
  rig.capture.failures.push_back(refused);
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "askPermission")));
  auto* message = visibleItem(onboarding, "failureMessage");
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->property("text").toString(), QString::fromStdString(userText(refused)));
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "openSettings")));
  EXPECT_EQ(rig.workspace.opened, std::vector<std::string>{
                                      "x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture"});
  rig.workspace.opens = false;
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "openSettings")));
  auto* noSettings = visibleItem(onboarding, "settingsMessage");
  ASSERT_NE(noSettings, nullptr);
  EXPECT_EQ(noSettings->property("text").toString(), "No se encontraron los ajustes de sonido de tu escritorio.");
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "retry")));
  ASSERT_NE(visibleItem(onboarding, "asking"), nullptr);
  EXPECT_TRUE(visibleItem(onboarding, "primary")->isEnabled()) << "the flow never waits for the test capture";
  rig.queue.advance(std::chrono::seconds(1));
  EXPECT_NE(visibleItem(onboarding, "permissionDone"), nullptr);
  next();

  // The source page: the tick follows the clicked row.
  page("onboarding-3-source", "Siguiente");
  ASSERT_TRUE(click(onboarding, sourceRow(onboarding, "Firefox")));
  EXPECT_EQ(rig.controller->selectedBundle(), "org.mozilla.firefox");
  EXPECT_EQ(sourceRows(onboarding, true), QStringList{"Firefox"});
  ASSERT_TRUE(click(onboarding, sourceRow(onboarding, "Spotify")));
  EXPECT_EQ(sourceRows(onboarding, true), QStringList{"Spotify"});
  next();

  page("onboarding-4-speakers", "Empezar ahora");
  EXPECT_FALSE(rig.controller->onboarded());
  next();
  EXPECT_TRUE(rig.controller->onboarded());
  EXPECT_TRUE(rig.controller->running());
  ASSERT_TRUE(pageSettled(onboarding));
  EXPECT_TRUE(matchesReference(onboarding, QStringLiteral("onboarding-5-closing")));
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "understood")));
  EXPECT_EQ(rig.delegate->onboardingWindow(), nullptr);

  // The panel follows; its "Elegir altavoces" opens the menu; ticking Cocina sends the player there, and ticking
  // this computer beside it plays there too.
  QQuickWindow* panel = rig.delegate->panel();
  ASSERT_TRUE(panel && QTest::qWaitForWindowExposed(panel));
  panel->setPosition(0, 0);
  auto* chooseSpeakers = visibleItem(panel, "chooseSpeakersRow");
  ASSERT_TRUE(click(panel, chooseSpeakers));
  QQuickItem* cocina = routeRow(panel, QStringLiteral("Cocina"));
  ASSERT_NE(cocina, nullptr);
  ASSERT_TRUE(click(panel, cocina->findChild<QQuickItem*>(QStringLiteral("routeCheck"))));
  EXPECT_EQ(rig.output.route, fakes::FakeAirPlayOutput::Route::receivers);
  EXPECT_EQ(rig.output.openNames(), std::vector<std::string>{"Cocina"});
  EXPECT_TRUE(rig.routes.routes()[1].selected);
  rig.output.connect("Cocina");
  QQuickItem* computer = routeRow(panel, QStringLiteral("Este ordenador"));
  ASSERT_NE(computer, nullptr);
  ASSERT_TRUE(click(panel, computer->findChild<QQuickItem*>(QStringLiteral("routeCheck"))));
  EXPECT_TRUE(rig.output.local);
  rig.routes.setVolume("Salón", 0.6);
  QTest::mouseMove(panel, chooseSpeakers->mapToScene(chooseSpeakers->boundingRect().center()).toPoint());
  QTest::qWait(300);  // the popup's own enter transition
  EXPECT_TRUE(matchesReference(panel, QStringLiteral("airplay-menu")));

  // A receiver that wants a password: ticking it asks for one, and the one typed reaches the receiver.
  rig.discoverReceivers(true);
  rig.routes.select("Garaje", true);
  auto* field = visibleItem(panel, "passwordField");
  ASSERT_NE(field, nullptr);
  QTest::qWait(300);
  EXPECT_TRUE(matchesReference(panel, QStringLiteral("password-dialog")));
  field->setProperty("text", QStringLiteral("secreto"));
  ASSERT_TRUE(click(panel, visibleItem(panel, "connectPassword")));
  rig.passwords.answer();
  EXPECT_EQ(rig.output.openNames(), (std::vector<std::string>{"Cocina", "Garaje"}));
  EXPECT_EQ(rig.passwords.stored["Garaje"], "secreto");

  QTest::keyClick(panel, Qt::Key_Escape);
  QTest::keyClick(panel, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(rig.controller->running()) << "quitting stops the stream first";
  AppDelegate later(rig.controller, rig.speakers, rig.workspace);
  later.launch();
  EXPECT_EQ(later.onboardingWindow(), nullptr) << "only a first launch shows the onboarding";
}

TEST_F(FirstLaunchTest, ReturnAndBackStepThroughAndAnUnlistedSourceIsNamedByItsIdentity) {
  QQuickWindow* onboarding = launch();
  ASSERT_NE(onboarding, nullptr);
  // Return is a window shortcut; without a window manager nothing activates the window once it is mapped.
  onboarding->requestActivate();
  ASSERT_TRUE(QTest::qWaitForWindowActive(onboarding));
  rig.workspace.addApp("org.videolan.vlc", "VLC");  // installed after the launch: the page lists it on entry
  const auto key = [&] {
    QTest::keyClick(onboarding, Qt::Key_Return);
    return pageSettled(onboarding);
  };
  ASSERT_TRUE(key() && key());
  EXPECT_EQ(step(onboarding), 2);
  EXPECT_EQ(sourceRows(onboarding), (QStringList{"Firefox", "Rhythmbox", "Spotify", "VLC"}));
  EXPECT_EQ(sourceRows(onboarding, true), QStringList{"Spotify"});
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "back")) && pageSettled(onboarding));
  EXPECT_EQ(step(onboarding), 1);
  ASSERT_TRUE(key());

  rig.controller->setSelectedBundle("org.example.gone");  // as the command line may
  EXPECT_EQ(sourceRows(onboarding, true), QStringList{});
  ASSERT_TRUE(key() && key());
  EXPECT_TRUE(rig.controller->onboarded());
  EXPECT_TRUE(rig.controller->running());
  auto* closing = visibleItem(onboarding, "closingText");
  ASSERT_NE(closing, nullptr);
  EXPECT_TRUE(closing->property("text").toString().endsWith("Ya está enviando org.example.gone."));
  QTest::keyClick(onboarding, Qt::Key_Return);
  EXPECT_EQ(rig.delegate->onboardingWindow(), nullptr);
}

TEST_F(FirstLaunchTest, ClosingTheWindowEarlyLeavesItUnfinished) {
  QQuickWindow* onboarding = launch();
  ASSERT_NE(onboarding, nullptr);
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "primary")) && pageSettled(onboarding));
  EXPECT_EQ(step(onboarding), 3);
  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "closeWindow")));
  EXPECT_FALSE(onboarding->isVisible());
  EXPECT_FALSE(rig.controller->onboarded());
  EXPECT_FALSE(rig.controller->running());

  QQuickWindow* panel = rig.delegate->panel();
  ASSERT_TRUE(panel && panel->isVisible()) << "without a tray host the panel is the way back";
  rig.loginItems.failure = "denegado";
  rig.controller->setLaunchAtLogin(true);
  panel->close();
  EXPECT_EQ(rig.controller->detail(), "") << "closing the panel dismisses the failure";
}

}  // namespace
}  // namespace brontide::ui

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Shadows and the gradient need the OpenGL scene graph (Mesa's llvmpipe under Xvfb).
  QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
