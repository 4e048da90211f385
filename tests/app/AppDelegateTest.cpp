#include <gtest/gtest.h>

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

#include "app/ui/AppDelegate.h"
#include "fakes/ControllerFakes.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::ui {
namespace {

class QuietServiceBrowser final : public ServiceBrowser {
 public:
  void browse(const std::string&, Handlers) override {}
};

// The delegate with the real controller on fakes and the real views, on the test display.
class AppDelegateTest : public ::testing::Test, protected fakes::ControllerFakes {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "AppDelegateTest";
    static char* argv[] = {name, nullptr};
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    app = new QApplication(argc, argv);
  }

  AppDelegate& make() {
    controller = makeController();
    delegate = std::make_unique<AppDelegate>(controller, browser, workspace);
    return *delegate;
  }

  static inline QApplication* app = nullptr;
  QuietServiceBrowser services;
  SpeakerBrowser browser{services, queue, collator, "Portátil"};
  std::shared_ptr<Controller> controller;
  std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, FirstLaunchOpensOnboardingAndClosingNeverQuits) {
  auto& d = make();
  d.launch();
  ASSERT_NE(d.onboardingWindow(), nullptr);
  EXPECT_TRUE(d.onboardingWindow()->isVisible());
  EXPECT_EQ(d.onboardingWindow()->size(), QSize(400, 500));
  EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
}

TEST_F(AppDelegateTest, LaterLaunchOpensNoOnboarding) {
  preferences.setValue("onboarded", "true");
  auto& d = make();
  d.launch();
  EXPECT_EQ(d.onboardingWindow(), nullptr);
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
