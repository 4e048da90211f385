#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

#include "app/ui/ControllerModel.h"
#include "app/ui/OnboardingModel.h"
#include "app/ui/PanelPlacement.h"
#include "app/ui/RouteListModel.h"
#include "app/ui/SpeakerListModel.h"
#include "app/ui/Updates.h"

namespace brontide {
class AirPlayRoutes;
class Controller;
class SpeakerBrowser;
class Workspace;
}  // namespace brontide

namespace brontide::ui {

// The tray application: owns the views of the one controller, the tray icon, the panel and the
// onboarding window. GUI thread; construct after the QApplication.
class AppDelegate final : public QObject {
  Q_OBJECT
 public:
  // Without `routes` the AirPlay menu offers only "Este ordenador". `routes` must outlive the delegate.
  AppDelegate(std::shared_ptr<Controller> controller, SpeakerBrowser& speakers, Workspace& workspace,
              AirPlayRoutes* routes = nullptr, QObject* parent = nullptr);
  ~AppDelegate() override;

  // Shows the tray icon, the onboarding window on a first launch, and the panel when there is no tray
  // (after the onboarding window, when there is one).
  void launch();
  // Opens the panel (and brings it forward); also what a second launch asks for.
  void showPanel();
  // The tray icon's click: opens or closes the panel.
  void togglePanel();

  [[nodiscard]] QQuickWindow* panel() const { return panel_; }
  [[nodiscard]] QQuickWindow* onboardingWindow() const { return onboarding_; }
  [[nodiscard]] QQuickWindow* updateWindow() const { return updateWindow_; }
  [[nodiscard]] Updates& updates() { return updates_; }
  [[nodiscard]] ControllerModel& controllerModel() { return controllerModel_; }

  // Opens the onboarding window, or brings it forward when it is already open.
  void showOnboarding();
  // What the quit action does instead of stopping the stream and quitting at once (the application's own
  // shutdown, which ends the event loop when it has finished).
  void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

 public slots:
  // Stops streaming, then ends the process.
  void quit();

 private:
  // "Entendido": the onboarding window closes for good.
  void finishOnboarding();
  void showUpdateResult();
  void updateTrayIcon();
  void placePanel();
  void panelActiveChanged();
  [[nodiscard]] QQuickWindow* createWindow(const char* file, const QVariantMap& properties);
  // A closed panel is made anew when it next opens; the engine goes when no window is left.
  void releasePanel();
  void releaseEngineIfUnused();

  std::shared_ptr<Controller> controller_;
  std::function<void()> quitHandler_;
  Workspace& workspace_;
  Updates updates_;
  ControllerModel controllerModel_;
  SpeakerListModel speakersModel_;
  RouteListModel routesModel_;
  // Made for the first window and released with the last: a tray icon alone needs no QML.
  QPointer<QQmlEngine> engine_;
  QPointer<QQuickWindow> panel_;
  QPointer<QQuickWindow> releasedPanel_;
  QPointer<QQuickWindow> onboarding_;
  // The onboarding window's state; lives exactly as long as that window.
  QPointer<OnboardingModel> onboardingFlow_;
  QPointer<QQuickWindow> updateWindow_;
  QSystemTrayIcon tray_;
  PanelPlacement::Mode panelMode_ = PanelPlacement::Mode::window;
  QElapsedTimer hiddenByFocusLoss_;
};

}  // namespace brontide::ui
