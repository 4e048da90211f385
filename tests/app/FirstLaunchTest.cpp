#include <gtest/gtest.h>

#include <QApplication>

#include "DelegateRig.h"

namespace brontide::ui {
namespace {

using testing::click;
using testing::pageSettled;
using testing::visibleItem;

// A first launch clicked through on the real windows of the test display.
class FirstLaunchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "FirstLaunchTest";
    static char* argv[] = {name, nullptr};
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
  }
  testing::DelegateRig rig;
};

TEST_F(FirstLaunchTest, OnboardingToStreamingThenTheAirPlayMenu) {
  rig.discoverReceivers();
  rig.delegate->launch();
  QQuickWindow* onboarding = rig.delegate->onboardingWindow();
  ASSERT_NE(onboarding, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(onboarding));
  rig.delegate->showOnboarding();
  EXPECT_EQ(rig.delegate->onboardingWindow(), onboarding) << "an open window is brought forward, not doubled";

  const auto next = [&](const char* expected) {
    auto* primary = visibleItem(onboarding, "primary");
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->property("text").toString(), QString::fromUtf8(expected));
    click(onboarding, primary);
    ASSERT_TRUE(pageSettled(onboarding));
  };
  next("Comenzar");
  next("Siguiente");
  // The source page: choose Firefox.
  for (auto* row : testing::visibleItems(onboarding, "sourceRow")) {
    if (row->property("modelData").toMap().value("name") == "Firefox") click(onboarding, row);
  }
  next("Siguiente");
  EXPECT_EQ(rig.controller->selectedBundle(), "org.mozilla.firefox");
  EXPECT_FALSE(rig.controller->onboarded());
  auto* startNow = visibleItem(onboarding, "primary");
  ASSERT_NE(startNow, nullptr);
  EXPECT_EQ(startNow->property("text").toString(), QString::fromUtf8("Empezar ahora"));
  click(onboarding, startNow);
  EXPECT_TRUE(rig.controller->onboarded());
  EXPECT_TRUE(rig.controller->running());

  ASSERT_TRUE(click(onboarding, visibleItem(onboarding, "understood")));
  EXPECT_EQ(rig.delegate->onboardingWindow(), nullptr);

  // The panel's "Elegir altavoces" opens the menu; ticking Cocina sends the player there.
  rig.delegate->showPanel();
  QQuickWindow* panel = rig.delegate->panel();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
  ASSERT_TRUE(click(panel, visibleItem(panel, "chooseSpeakersRow")));
  QQuickItem* cocina = nullptr;
  for (auto* row : testing::visibleItems(panel, "routeRow"))
    if (row->property("name").toString() == "Cocina") cocina = row;
  ASSERT_NE(cocina, nullptr);
  ASSERT_TRUE(click(panel, cocina->findChild<QQuickItem*>(QStringLiteral("routeCheck"))));
  EXPECT_EQ(rig.output.route, fakes::FakeAirPlayOutput::Route::receivers);
  EXPECT_EQ(rig.output.openNames(), std::vector<std::string>{"Cocina"});
  EXPECT_TRUE(rig.routes.routes()[1].selected);
}

}  // namespace
}  // namespace brontide::ui
