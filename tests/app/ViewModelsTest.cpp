#include <gtest/gtest.h>

#include <QSignalSpy>

#include <memory>

#include "app/ui/ControllerModel.h"
#include "app/ui/SpeakerListModel.h"
#include "fakes/ControllerFakes.h"
#include "speaker_browser/FakeServiceBrowser.h"
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

  m.toggleMuted();
  EXPECT_TRUE(m.muted());
  EXPECT_EQ(m.volumeText(), "Silencio");
  EXPECT_EQ(m.volumeSymbol(), "speaker.slash.fill");
  m.toggleMuted();
  EXPECT_EQ(m.volumeText(), "50 %");
  EXPECT_EQ(m.volumeSymbol(), "speaker.wave.2.fill");
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
  EXPECT_EQ(model.count(), 0);

  services.results({fakes::service("Salón", "AudioAccessory1,1")});
  queue.runReady();
  ASSERT_EQ(model.count(), 1);
  EXPECT_EQ(model.countText(), "1 altavoz disponible en tu red");
  EXPECT_EQ(model.speakers()[0].toMap(),
            (QVariantMap{{"name", QString::fromUtf8("Salón")}, {"kind", "HomePod"}, {"symbol", "homepod.fill"}}));

  const std::vector twoSpeakers{fakes::service("Salón", "AudioAccessory1,1"), fakes::service("Estudio", "")};
  services.results(twoSpeakers);
  queue.runReady();
  EXPECT_EQ(model.countText(), "2 altavoces disponibles en tu red");
  EXPECT_EQ(model.speakers()[1].toMap()["kind"], "Altavoz AirPlay");
  const auto changesSoFar = speakersChanged.count();

  services.results(twoSpeakers);
  services.ready();
  queue.advance(5s);
  EXPECT_EQ(speakersChanged.count(), changesSoFar);  // the same list again is no change
  EXPECT_FALSE(model.searching());
  EXPECT_EQ(searchingChanged.count(), 1);
}

}  // namespace
}  // namespace brontide::ui
