// Renders each onboarding page and the AirPlay menu with two receivers on the real windows under X11 with
// OpenGL, saves each as a PNG in the build folder and compares it with the committed reference.
// BRONTIDE_UPDATE_REFERENCES=1 rewrites the references instead.
#include <QApplication>

#include <cstdio>

#include "DelegateRig.h"
#include "ScreenshotCompare.h"

namespace {

using namespace brontide::ui::testing;

int failures = 0;

void check(QQuickWindow* window, const QString& name) {
  if (!matchesReference(window, name)) ++failures;
}

void require(bool ok, const char* what) {
  if (!ok) qFatal("%s", what);
}

}  // namespace

int main(int argc, char** argv) {
  QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
  QApplication app(argc, argv);
  DelegateRig rig;
  rig.discoverReceivers(false);

  rig.delegate->launch();
  QQuickWindow* onboarding = rig.delegate->onboardingWindow();
  require(onboarding && QTest::qWaitForWindowExposed(onboarding), "no onboarding window");
  onboarding->setPosition(0, 0);
  for (const char* page : {"onboarding-1-welcome", "onboarding-2-permission", "onboarding-3-source",
                           "onboarding-4-speakers", "onboarding-5-closing"}) {
    require(pageSettled(onboarding), "the page never settled");
    check(onboarding, QString::fromLatin1(page));
    click(onboarding, visibleItem(onboarding, "primary"));
  }

  rig.routes.select("Cocina", true);
  rig.output.connect("Cocina");
  rig.routes.setVolume("Salón", 0.6);
  rig.delegate->showPanel();
  QQuickWindow* panel = rig.delegate->panel();
  require(panel && QTest::qWaitForWindowExposed(panel), "no panel");
  panel->setPosition(0, 0);
  require(click(panel, visibleItem(panel, "chooseSpeakersRow")), "no AirPlay row");
  require(visibleItem(panel, "routeRow") != nullptr, "the AirPlay menu did not open");
  QTest::qWait(300);  // the popup's own enter transition
  check(panel, QStringLiteral("airplay-menu"));

  std::printf("screenshots in %s\n", qPrintable(screenshotsDir()));
  return failures == 0 ? 0 : 1;
}
