#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <memory>

#include "app/ui/ControllerModel.h"
#include "app/ui/RouteListModel.h"
#include "app/ui/SpeakerListModel.h"
#include "fakes/ControllerFakes.h"
#include "speaker_browser/AirPlayRoutes.h"
#include "speaker_browser/FakeAirPlayOutput.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/FoldingCollator.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::ui {
namespace {

using namespace std::chrono_literals;

// The real controller on fakes, seen through its view model.
class ControllerModelTest : public ::testing::Test, protected fakes::ControllerFakes {
 protected:
  ControllerModel& make() {
    controller = makeController();
    model = std::make_unique<ControllerModel>(controller, workspace);
    return *model;
  }

  std::shared_ptr<Controller> controller;
  std::unique_ptr<ControllerModel> model;
};

TEST_F(ControllerModelTest, NotifiesOnlyOnRealChangesAndMuteKeepsTheVolume) {
  auto& m = make();
  QSignalSpy autoStart(&m, &ControllerModel::autoStartChanged);
  QSignalSpy volume(&m, &ControllerModel::volumeChanged);
  QSignalSpy text(&m, &ControllerModel::volumeTextChanged);

  controller->setAutoStart(false);  // the controller announces every assignment
  controller->setVolume(1.0);
  EXPECT_EQ(autoStart.count(), 0);
  EXPECT_EQ(volume.count(), 0);

  m.setAutoStart(true);
  m.setVolume(0.5);
  EXPECT_EQ(autoStart.count(), 1);
  EXPECT_TRUE(m.autoStart());
  EXPECT_EQ(volume.count(), 1);
  EXPECT_EQ(text.count(), 1);
  EXPECT_EQ(m.volumeText(), "50 %");

  // The figures themselves are the panel texts' test.
  m.toggleMuted();
  EXPECT_TRUE(m.muted());
  EXPECT_EQ(m.volumeText(), "Silencio");
  EXPECT_EQ(text.count(), 2);
  m.toggleMuted();
  EXPECT_EQ(m.volumeText(), "50 %");
}

TEST_F(ControllerModelTest, StartAndStopShowTheState) {
  auto& m = make();
  EXPECT_EQ(m.stateKind(), "stopped");
  EXPECT_EQ(m.stateLabel(), "Detenido");
  QSignalSpy running(&m, &ControllerModel::runningChanged);

  m.toggleRunning();
  EXPECT_TRUE(m.running());
  EXPECT_EQ(m.stateKind(), "waiting");
  EXPECT_EQ(m.stateLabel(), "Esperando audio");

  m.toggleRunning();
  EXPECT_FALSE(m.running());
  EXPECT_EQ(m.stateKind(), "stopped");
  EXPECT_EQ(running.count(), 2);
}

TEST_F(ControllerModelTest, TheSilenceRowNamesTheSourceOnlyWhileLiveAndSilent) {
  const QString row = QString::fromUtf8("No llega sonido de Spotify. ¿Está en pausa?");
  capture.processes.push_back({7, Controller::kDefaultSource});
  auto& m = make();
  m.start();
  servers.latest().ready(50123);
  queue.advance(7s);
  EXPECT_EQ(m.silenceText(), row);
  std::vector<float> sound(512, 0.5f);
  ASSERT_TRUE(capture.taps.back()->deliver(SampleBlock{sound.data(), sound.size()}));
  queue.advance(50ms);
  EXPECT_EQ(m.silenceText(), "") << "sound is back";
  queue.advance(7s);
  EXPECT_EQ(m.silenceText(), row);
  m.stop();
  EXPECT_EQ(m.silenceText(), "") << "the flag outlives the stop, the row does not";
}

TEST_F(ControllerModelTest, TheSettingsProblemIsToldOnceUntilThePanelCloses) {
  auto& m = make();
  m.showSettingsProblem("solo lectura");
  EXPECT_EQ(m.settingsNotice(), "No se pueden guardar los ajustes (solo lectura).");
  EXPECT_EQ(m.detail(), QString::fromStdString(controller->detail())) << "the detail stays the controller's";
  m.dismissNotice();
  m.showSettingsProblem("solo lectura");
  EXPECT_EQ(m.settingsNotice(), "");
}

TEST_F(ControllerModelTest, SourceIconAndRowFollowTheSelectedBundle) {
  workspace.addApp("org.videolan.vlc", "VLC");
  workspace.addApp("org.mozilla.firefox", "Firefox");
  workspace.locations["org.videolan.vlc"] = "/usr/share/applications/vlc.desktop";
  workspace.icons["/usr/share/applications/vlc.desktop"] = "/usr/share/icons/vlc.png";
  auto& m = make();

  m.setSelectedBundle("org.videolan.vlc");
  ASSERT_GE(m.selectedIndex(), 0);
  EXPECT_EQ(m.apps()[m.selectedIndex()].toMap()["bundleID"], "org.videolan.vlc");
  EXPECT_EQ(m.sourceIcon(), QUrl::fromLocalFile("/usr/share/icons/vlc.png"));

  // Not listed: no row matches, and the icon is still that application's own (here: none installed).
  QSignalSpy index(&m, &ControllerModel::selectedIndexChanged);
  m.setSelectedBundle("com.example.gone");
  EXPECT_EQ(m.selectedIndex(), -1);
  EXPECT_EQ(index.count(), 1);
  EXPECT_EQ(m.sourceIcon(), QUrl("image://symbol/app.dashed"));
}

TEST_F(ControllerModelTest, LaunchAtLoginFollowsTheLoginItemNotTheRequest) {
  auto& m = make();
  loginItems.failure = "denied";
  m.setLaunchAtLogin(true);
  EXPECT_FALSE(m.launchAtLogin());
  loginItems.failure.reset();
  m.setLaunchAtLogin(true);
  EXPECT_TRUE(m.launchAtLogin());
}

TEST(SpeakerListModelTest, FollowsTheBrowserAndCountsSpeakers) {
  fakes::VirtualMainQueue queue;
  fakes::SimpleCollator collator;
  fakes::FakeServiceBrowser services;
  SpeakerBrowser browser(services, queue, collator, "Portátil");
  browser.start();
  SpeakerListModel model(browser);
  QSignalSpy speakersChanged(&model, &SpeakerListModel::speakersChanged);
  QSignalSpy searchingChanged(&model, &SpeakerListModel::searchingChanged);
  EXPECT_TRUE(model.searching());

  services.results({fakes::service("Salón", "AudioAccessory1,1")});
  queue.runReady();
  EXPECT_EQ(model.countText(), "1 altavoz disponible en tu red");
  EXPECT_EQ(model.speakers(),
            (QVariantList{QVariantMap{{"name", QString::fromUtf8("Salón")}, {"kind", "HomePod"}, {"symbol", "homepod.fill"}}}));

  const std::vector twoSpeakers{fakes::service("Salón", "AudioAccessory1,1"), fakes::service("Estudio", "")};
  services.results(twoSpeakers);
  queue.runReady();
  EXPECT_EQ(model.count(), 2);
  EXPECT_EQ(model.countText(), "2 altavoces disponibles en tu red");
  const auto changesSoFar = speakersChanged.count();

  services.results(twoSpeakers);
  services.ready();
  queue.advance(5s);
  EXPECT_EQ(speakersChanged.count(), changesSoFar);  // the same list again is no change
  EXPECT_FALSE(model.searching());
  EXPECT_EQ(searchingChanged.count(), 1);
}

using Txt = std::map<std::string, std::string>;

ServiceResult raop(std::string name, std::uint16_t port, Txt txt = {{"et", "0,1"}}) {
  return ServiceResult{.name = std::move(name), .txt = std::move(txt), .local = false, .address = "127.0.0.1",
                       .port = port};
}

// "name 'state text' symbol [ticked] [disabled] [local] volume" per row.
std::vector<std::string> rows(const RouteListModel& model) {
  std::vector<std::string> out;
  for (int i = 0; i < model.rowCount(); ++i) {
    const auto at = model.index(i);
    const auto role = [&](int r) { return model.data(at, r); };
    auto row = QStringLiteral("%1 '%2' %3").arg(role(RouteListModel::nameRole).toString(),
                                               role(RouteListModel::stateTextRole).toString(),
                                               role(RouteListModel::symbolRole).toString());
    if (role(RouteListModel::selectedRole).toBool()) row += " ticked";
    if (!role(RouteListModel::choosableRole).toBool()) row += " disabled";
    if (role(RouteListModel::localRole).toBool()) row += " local";
    out.push_back((row + ' ' + QString::number(role(RouteListModel::volumeRole).toDouble())).toStdString());
  }
  return out;
}

// The menu's rows over a real route catalogue on fakes.
class RouteListModelTest : public ::testing::Test {
 protected:
  fakes::VirtualMainQueue queue;
  fakes::RecordingLog log;
  fakes::FoldingCollator collator;
  fakes::FakeServiceBrowser browser;
  fakes::FakeAirPlayOutput output;
  fakes::MemoryPreferences preferences;
  AirPlayRoutes routes{browser, output, queue, collator, preferences, log, "Portátil"};
};

TEST_F(RouteListModelTest, WithoutCatalogue_OnlyThisComputer) {
  RouteListModel model(nullptr);
  EXPECT_EQ(rows(model), std::vector<std::string>{"Este ordenador '' laptopcomputer ticked local 0.5"});
  EXPECT_FALSE(model.active());
  EXPECT_FALSE(model.receiversKeepTheirVolume());
  model.select("Este ordenador", false);
  model.setVolume("Este ordenador", 0.2);
  EXPECT_EQ(model.rowCount(), 1);
}

// What the catalogue does with a choice is its own test's; here, that its rows reach the menu as they change.
TEST_F(RouteListModelTest, Rows_FollowTheCatalogueWithStatesVolumesAndActive) {
  RouteListModel model(&routes);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QSignalSpy active(&model, &RouteListModel::activeChanged);
  routes.start();
  // _raop._tcp first, then the companion _airplay._tcp records.
  browser.browsed[0].second.resultsChanged(
      {raop("AA@Cocina", 5001), raop("BB@Salón", 5002), raop("CC@Dormitorio", 5003, {{"pw", "true"}})});
  browser.browsed[1].second.resultsChanged({raop("Cocina", 7000, {{"model", "AudioAccessory5,1"}})});
  queue.runReady();
  EXPECT_EQ(rows(model), (std::vector<std::string>{"Este ordenador '' laptopcomputer ticked local 0.5",
                                                    "Cocina '' homepodmini.fill 0.5",
                                                    "Dormitorio 'Requiere contraseña' hifispeaker.fill disabled 0.5",
                                                    "Salón '' hifispeaker.fill 0.5"}));
  EXPECT_EQ(rows(RouteListModel(&routes)), rows(model)) << "a model made later starts from the catalogue";
  output.sends = false;
  EXPECT_TRUE(model.receiversKeepTheirVolume()) << "the menu says the speakers keep their own volume";

  model.select("Cocina", true);
  EXPECT_TRUE(model.active());
  EXPECT_EQ(rows(model)[0], "Este ordenador '' laptopcomputer local 0.5");
  EXPECT_EQ(rows(model)[1], "Cocina '' homepodmini.fill ticked 0.5");

  // A slider being dragged lives in its row: the row changes in place, never rebuilt.
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.setVolume("Cocina", 0.25);
  EXPECT_EQ(rows(model)[1], "Cocina '' homepodmini.fill ticked 0.25");
  EXPECT_EQ(reset.count(), 0);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.front().front().value<QModelIndex>().row(), 1);
  output.fail("Cocina");
  EXPECT_EQ(rows(model)[1], "Cocina 'No responde' homepodmini.fill ticked 0.25");

  model.select("Este ordenador", true);  // beside the receiver
  EXPECT_EQ(rows(model)[0], "Este ordenador '' laptopcomputer ticked local 0.5");
  EXPECT_TRUE(model.active());
  model.select("Cocina", false);
  EXPECT_FALSE(model.active());
  EXPECT_EQ(active.count(), 2);
}

}  // namespace
}  // namespace brontide::ui
