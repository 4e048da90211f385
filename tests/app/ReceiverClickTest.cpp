// The real tray on the real pipeline: a tone application in a private PipeWire session, streaming started
// from the panel, and a receiver of the loopback AirPlay network ticked in the AirPlay menu.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <pipewire/pipewire.h>
#include <signal.h>
#include <stdlib.h>

#include <QApplication>

#include <string>

#include "DelegateRig.h"
#include "app/wiring/Services.h"
#include "linux/avahi/Rig.h"
#include "support/AudioSession.h"
#include "support/ReceiverPcm.h"

namespace brontide::ui {
namespace {

using testing::click;
using testing::visibleItem;
using testsupport::AudioSession;
using testsupport::ChildProcess;
using testsupport::ReceiverPcm;

constexpr int kLimitMs = 20000;  // guards against hangs only
constexpr const char* kSource = "org.example.tone440";

TEST(ReceiverClickTest, TickingTerrazaInTheMenuPlaysTheSourceThere) {
  // CTest may start us with SIGCHLD ignored, which would reap the children before we read their status.
  ::signal(SIGCHLD, SIG_DFL);
  AudioSession session{false};
  // GLib ends the process when the private session bus goes away unless GSettings stays in memory.
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  rig::useNetwork();
  ASSERT_FALSE(ReceiverPcm::directory().empty()) << "no AirPlay receivers: scripts/airplay-network up";
  for (const char* name : {"Terraza", "Estudio"}) ASSERT_EQ(rig::command(std::string("start-receiver ") + name), 0);

  ChildProcess tone({TONE_SOURCE, kSource, "Tono 440", "440"}, true);
  ASSERT_EQ(tone.readLine(), "playing");

  int argc = 1;
  char name[] = "ReceiverClickTest";
  char* argv[] = {name, nullptr};
  char** args = argv;
  QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  pw_init(&argc, &args);
  gst_init(&argc, &args);

  app::Services services({.allowAutoStart = false});
  services.routes().setVolume("Terraza", 1.0);  // heard whatever volume this receiver holds
  services.routes().start();
  auto controller = services.sharedController();
  controller->setSelectedBundle(kSource);
  controller->setOnboarded(true);
  AppDelegate delegate(controller, services.speakers(), services.workspace(), &services.routes());
  delegate.launch();
  delegate.showPanel();
  QQuickWindow* panel = delegate.panel();
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));

  ASSERT_TRUE(click(panel, visibleItem(panel, "startStop")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return controller->running(); }, kLimitMs));

  ReceiverPcm terraza("Terraza");
  ASSERT_TRUE(click(panel, visibleItem(panel, "chooseSpeakersRow")));
  QQuickItem* row = testing::routeRow(panel, QStringLiteral("Terraza"), kLimitMs);
  ASSERT_NE(row, nullptr) << "Terraza never appeared in the AirPlay menu";
  ASSERT_TRUE(click(panel, row->findChild<QQuickItem*>(QStringLiteral("routeCheck"))));

  // The receiver starts a session with silence: the tone counts only once it plays sound.
  ASSERT_TRUE(QTest::qWaitFor([&] { return terraza.loudSinceMark(); }, kLimitMs));
  terraza.mark();
  ASSERT_TRUE(QTest::qWaitFor([&] { return terraza.secondsSinceMark() >= 0.6; }, kLimitMs));
  EXPECT_GT(terraza.tone(440, 0.6), ReceiverPcm::kHeard);

  controller->stop();
}

}  // namespace
}  // namespace brontide::ui
