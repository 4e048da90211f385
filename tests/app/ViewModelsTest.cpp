#include <gtest/gtest.h>

#include <QSignalSpy>

#include <memory>

#include "app/ui/ControllerModel.h"
#include "app/ui/SpeakerListModel.h"
#include "fakes/ControllerFakes.h"
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

TEST_F(ControllerModelTest, NotifiesOnlyOnRealChanges) {
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
  EXPECT_EQ(m.detail(), QString::fromUtf8("Arrancando…"));

  m.toggleRunning();
  EXPECT_FALSE(m.running());
  EXPECT_EQ(m.stateKind(), "stopped");
  EXPECT_EQ(running.count(), 2);
}

TEST_F(ControllerModelTest, VolumeFigureAndMuteSymbol) {
  auto& m = make();
  struct Case {
    double volume;
    const char* figure;
    const char* symbol;
  };
  for (const auto& c : {Case{0.125, "13 %", "speaker.wave.2.fill"}, Case{0.5, "50 %", "speaker.wave.2.fill"},
                        Case{1.0, "100 %", "speaker.wave.2.fill"}, Case{0.0, "0 %", "speaker.slash.fill"},
                        Case{0.004, "0 %", "speaker.wave.2.fill"}}) {
    m.setVolume(c.volume);
    EXPECT_EQ(m.volumeText(), c.figure) << c.volume;
    EXPECT_EQ(m.volumeSymbol(), c.symbol) << c.volume;
  }

  m.setVolume(0.6);
  m.toggleMuted();
  EXPECT_TRUE(m.muted());
  EXPECT_EQ(m.volumeText(), "Silencio");
  EXPECT_EQ(m.volumeSymbol(), "speaker.slash.fill");
  m.toggleMuted();
  EXPECT_EQ(m.volumeText(), "60 %");  // the volume survives a mute
}

TEST_F(ControllerModelTest, SourceIconAndRowFollowTheSelectedBundle) {
  workspace.addApp("org.videolan.vlc", "VLC");
  workspace.addApp("org.mozilla.firefox", "Firefox");
  workspace.locations["org.videolan.vlc"] = "/usr/share/applications/vlc.desktop";
  workspace.icons["/usr/share/applications/vlc.desktop"] = "/usr/share/icons/vlc.png";
  auto& m = make();

  m.setSelectedBundle("org.videolan.vlc");
  const auto apps = m.apps();
  ASSERT_GE(m.selectedIndex(), 0);
  EXPECT_EQ(apps[m.selectedIndex()].toMap()["bundleID"], "org.videolan.vlc");
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

// A DNS-SD browser the test drives.
class ScriptedServiceBrowser final : public ServiceBrowser {
 public:
  void browse(const std::string&, Handlers h) override { handlers = std::move(h); }
  Handlers handlers;
};

TEST(SpeakerListModelTest, FollowsTheBrowserAndCountsSpeakers) {
  fakes::VirtualMainQueue queue;
  fakes::SimpleCollator collator;
  ScriptedServiceBrowser services;
  SpeakerBrowser browser(services, queue, collator, "Portátil");
  browser.start();
  SpeakerListModel model(browser);
  QSignalSpy speakersChanged(&model, &SpeakerListModel::speakersChanged);
  QSignalSpy searchingChanged(&model, &SpeakerListModel::searchingChanged);
  EXPECT_TRUE(model.searching());
  EXPECT_EQ(model.count(), 0);

  const auto result = [](const char* name, const char* modelName) {
    return ServiceResult{name, std::map<std::string, std::string>{{"model", modelName}}, false, "192.0.2.1", 7000};
  };
  services.handlers.resultsChanged({result("Salón", "AudioAccessory1,1")});
  queue.runReady();
  ASSERT_EQ(model.count(), 1);
  EXPECT_EQ(model.countText(), "1 altavoz disponible en tu red");
  const auto row = model.speakers()[0].toMap();
  EXPECT_EQ(row["name"], QString::fromUtf8("Salón"));
  EXPECT_EQ(row["kind"], "HomePod");
  EXPECT_EQ(row["symbol"], "homepod.fill");

  services.handlers.resultsChanged({result("Salón", "AudioAccessory1,1"), result("Estudio", "")});
  queue.runReady();
  EXPECT_EQ(model.countText(), "2 altavoces disponibles en tu red");
  EXPECT_EQ(model.speakers()[1].toMap()["kind"], "Altavoz AirPlay");
  const auto changesSoFar = speakersChanged.count();

  services.handlers.resultsChanged({result("Salón", "AudioAccessory1,1"), result("Estudio", "")});
  services.handlers.ready();
  queue.advance(5s);
  EXPECT_EQ(speakersChanged.count(), changesSoFar);  // the same list again is no change
  EXPECT_FALSE(model.searching());
  EXPECT_EQ(searchingChanged.count(), 1);
}

}  // namespace
}  // namespace brontide::ui
