#include <gtest/gtest.h>

#include <QApplication>
#include <QQuickWindow>
#include <QTest>

#include <memory>

#include "app/ui/AppDelegate.h"
#include "fakes/ControllerFakes.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::ui {
namespace {

// The delegate with the real controller on fakes and the real views, on the test display.
class AppDelegateTest : public ::testing::Test, protected fakes::ControllerFakes {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "AppDelegateTest";
    static char* argv[] = {name, nullptr};
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    new QApplication(argc, argv);
  }

  AppDelegate& make() {
    delegate.reset();
    controller = makeController();
    delegate = std::make_unique<AppDelegate>(controller, browser, workspace);
    return *delegate;
  }

  fakes::FakeServiceBrowser services;
  SpeakerBrowser browser{services, queue, collator, "Portátil"};
  std::shared_ptr<Controller> controller;
  std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, OnlyFirstLaunchOpensOnboardingAndClosingNeverQuits) {
  auto& first = make();
  first.launch();
  ASSERT_NE(first.onboardingWindow(), nullptr);
  EXPECT_TRUE(first.onboardingWindow()->isVisible());
  EXPECT_EQ(first.onboardingWindow()->size(), QSize(400, 500));
  EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

  preferences.setValue("onboarded", "true");
  auto& later = make();
  later.launch();
  EXPECT_EQ(later.onboardingWindow(), nullptr);
}

TEST_F(AppDelegateTest, PanelShowsTheRealControllerAndQuitStopsIt) {
  preferences.setValue("onboarded", "true");
  auto& d = make();
  d.showPanel();
  auto* panel = d.panel();
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
  EXPECT_EQ(panel->width(), 400);

  auto* startStop = panel->findChild<QObject*>("startStop");
  ASSERT_NE(startStop, nullptr);
  EXPECT_EQ(startStop->property("text").toString(), "Empezar");
  QTest::keyClick(panel, Qt::Key_Space);
  EXPECT_TRUE(controller->running());
  EXPECT_EQ(startStop->property("text").toString(), "Detener");
  EXPECT_EQ(panel->findChild<QObject*>("statusPill")->property("label").toString(), "Esperando audio");

  QTest::keyClick(panel, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(controller->running());
}

}  // namespace
}  // namespace brontide::ui
