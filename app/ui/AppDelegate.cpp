#include "app/ui/AppDelegate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QScreen>
#include <QTimer>
#include <QtGlobal>

#include <malloc.h>

#include <chrono>
#include <thread>

#include "app/ui/AppConfig.h"
#include "app/ui/FrameClock.h"
#include "app/ui/QmlSetup.h"
#include "app/ui/Symbols.h"
#include "controller/Controller.h"

namespace brontide::ui {
namespace {

// A tray click that arrives this soon after the same click hid the panel (by taking focus) closes it.
constexpr qint64 kToggleDebounceMs = 300;

const QString kModule = QStringLiteral("qrc:/qt/qml/Brontide/");

// At most one frame per FrameClock tick. Without vsync (Xvfb, many virtual machines) Qt Quick draws as fast as
// it can while anything animates, a spinner for instance, and software GL draws the whole window each time.
// Animations are timed, so their curves hold at this rate. The pause falls after the swap, on the thread that
// swaps (the render thread, or the GUI thread under the basic loop), where a vsync wait would.
void paceFrames(QQuickWindow* window) {
  using Clock = std::chrono::steady_clock;
  QObject::connect(window, &QQuickWindow::frameSwapped, window, [last = Clock::time_point()]() mutable {
    std::this_thread::sleep_until(last + std::chrono::milliseconds(FrameClock::kFrameMs));
    last = Clock::now();
  }, Qt::DirectConnection);
}

}  // namespace

AppDelegate::AppDelegate(std::shared_ptr<Controller> controller, SpeakerBrowser& speakers, Workspace& workspace,
                         AirPlayRoutes* routes, QObject* parent)
    : QObject(parent),
      controller_(std::move(controller)),
      workspace_(workspace),
      updates_(AppConfig::appcastURL(), AppConfig::currentVersion(), workspace),
      controllerModel_(controller_, workspace),
      speakersModel_(speakers),
      routesModel_(routes) {
  // The tray utility lives on with no window open.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  connect(&controllerModel_, &ControllerModel::runningChanged, this, &AppDelegate::updateTrayIcon);
  connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) togglePanel();
  });
  connect(&updates_, &Updates::checked, this, &AppDelegate::showUpdateResult);
  tray_.setToolTip(QStringLiteral("Brontide"));
  updateTrayIcon();
}

AppDelegate::~AppDelegate() {
  // Its closing would otherwise release it a second time.
  if (panel_) panel_->disconnect(this);
  delete panel_;
  // A released panel whose deletion is still queued; its bindings read the models, which go next.
  delete releasedPanel_;
  delete onboarding_;
  delete onboardingFlow_;
  delete updateWindow_;
  delete engine_;
}

void AppDelegate::launch() {
  const bool trayHost = QSystemTrayIcon::isSystemTrayAvailable();
  if (trayHost) tray_.show();
  if (!controllerModel_.onboarded()) showOnboarding();
  if (trayHost) return;
  // Without a tray host the panel is the only way in; it follows the onboarding rather than covering it.
  if (!onboarding_) {
    showPanel();
    return;
  }
  connect(onboarding_, &QWindow::visibleChanged, this, [this](bool visible) {
    if (!visible) showPanel();
  }, Qt::SingleShotConnection);
}

QQuickWindow* AppDelegate::createWindow(const char* file, const QVariantMap& properties) {
  if (!engine_) {
    engine_ = new QQmlEngine(this);
    prepareEngine(*engine_);
  }
  QQmlComponent component(engine_, QUrl(kModule + QLatin1String(file)));
  // Qt 6.4 crashes creating a component that failed to load.
  if (component.isError()) {
    qCritical("brontide: %s did not load: %s", file, qPrintable(component.errorString()));
    return nullptr;
  }
  auto* object = component.createWithInitialProperties(properties);
  auto* window = qobject_cast<QQuickWindow*>(object);
  if (!window) {
    qCritical("brontide: %s did not load: %s", file, qPrintable(component.errorString()));
    delete object;
    return nullptr;
  }
  paceFrames(window);
  return window;
}

void AppDelegate::showPanel() {
  if (!panel_) {
    panel_ = createWindow("PanelWindow.qml", {{QStringLiteral("controller"), QVariant::fromValue(&controllerModel_)},
                                              {QStringLiteral("speakers"), QVariant::fromValue(&speakersModel_)},
                                              {QStringLiteral("updates"), QVariant::fromValue(&updates_)},
                                              {QStringLiteral("routes"), QVariant::fromValue(&routesModel_)}});
    if (!panel_) return;
    connect(panel_, SIGNAL(quitRequested()), this, SLOT(quit()));
    connect(panel_, &QWindow::activeChanged, this, &AppDelegate::panelActiveChanged);
    // A message held for the user has been read once the panel closes.
    connect(panel_, &QWindow::visibleChanged, this, [this](bool visible) {
      if (visible) return;
      controllerModel_.dismissNotice();
      releasePanel();
    });
    // The panel grows and shrinks with its content: keep it against its anchor.
    connect(panel_, &QWindow::heightChanged, this, [this] {
      if (panel_->isVisible() && panelMode_ == PanelPlacement::Mode::anchored) placePanel();
    });
  }
  placePanel();
  panel_->show();
  panel_->raise();
  panel_->requestActivate();
}

void AppDelegate::releasePanel() {
  // Later: the hide that got here may still be on its way through the window.
  if (panel_) panel_->deleteLater();
  releasedPanel_ = panel_;
  panel_.clear();
  releaseEngineIfUnused();
}

void AppDelegate::releaseEngineIfUnused() {
  if (!engine_ || panel_ || onboarding_ || updateWindow_) return;
  // After the windows, whose deletions are already queued.
  engine_->deleteLater();
  engine_.clear();
  // Once the render thread has let go of the window's scene, the freed heap goes back to the system; glibc
  // keeps it otherwise.
  QTimer::singleShot(std::chrono::seconds(1), this, [] { malloc_trim(0); });
}

void AppDelegate::togglePanel() {
  if (panel_ && panel_->isVisible()) {
    panel_->hide();
    return;
  }
  if (hiddenByFocusLoss_.isValid() && hiddenByFocusLoss_.elapsed() < kToggleDebounceMs) return;
  showPanel();
}

void AppDelegate::placePanel() {
  std::optional<QPoint> cursor;
  if (QGuiApplication::platformName() == QLatin1String("xcb")) cursor = QCursor::pos();
  const QRect trayIcon = tray_.isVisible() ? tray_.geometry() : QRect();
  auto* screen = cursor ? QGuiApplication::screenAt(*cursor) : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect();
  // Without a tray icon the panel is the application's window: it stays where the user puts it.
  const auto placement = tray_.isVisible() ? ui::placePanel(trayIcon, cursor, available, panel_->size())
                                           : PanelPlacement{};
  const bool modeChanges = placement.mode != panelMode_ || !panel_->isVisible();
  panelMode_ = placement.mode;
  if (placement.mode == PanelPlacement::Mode::anchored) {
    if (modeChanges) panel_->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    panel_->setPosition(placement.topLeft);
  } else if (modeChanges) {
    panel_->setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    if (!panel_->isVisible() && screen) panel_->setPosition(available.center() - QPoint(panel_->width() / 2, panel_->height() / 2));
  }
}

void AppDelegate::panelActiveChanged() {
  if (panelMode_ != PanelPlacement::Mode::anchored || panel_->isActive() || !panel_->isVisible()) return;
  // Like a menu: clicking anywhere else closes it.
  panel_->hide();
  hiddenByFocusLoss_.start();
}

void AppDelegate::showOnboarding() {
  if (!onboarding_) {
    // A fresh window starts on page 0 with the capture test not run.
    auto* flow = new OnboardingModel(controller_, workspace_, this);
    onboarding_ = createWindow("OnboardingWindow.qml", {{QStringLiteral("controller"), QVariant::fromValue(&controllerModel_)},
                                                        {QStringLiteral("flow"), QVariant::fromValue(flow)}});
    if (!onboarding_) {
      delete flow;
      return;
    }
    onboardingFlow_ = flow;
    connect(flow, &OnboardingModel::done, this, &AppDelegate::finishOnboarding);
    if (auto* screen = QGuiApplication::primaryScreen()) {
      const QRect available = screen->availableGeometry();
      onboarding_->setPosition(available.center() - QPoint(onboarding_->width() / 2, onboarding_->height() / 2));
    }
  }
  onboarding_->show();
  onboarding_->raise();
  onboarding_->requestActivate();
}

void AppDelegate::finishOnboarding() {
  if (onboarding_) onboarding_->close();
  // Released from the event loop: the click that got here is still being delivered to the window.
  if (onboarding_) onboarding_->deleteLater();
  if (onboardingFlow_) onboardingFlow_->deleteLater();
  onboarding_.clear();
  onboardingFlow_.clear();
  releaseEngineIfUnused();
}

void AppDelegate::showUpdateResult() {
  if (!updateWindow_) {
    updateWindow_ = createWindow("UpdateWindow.qml", {{QStringLiteral("updates"), QVariant::fromValue(&updates_)}});
    if (!updateWindow_) return;
    if (auto* screen = QGuiApplication::primaryScreen()) {
      const QRect available = screen->availableGeometry();
      updateWindow_->setPosition(available.center() - QPoint(updateWindow_->width() / 2, updateWindow_->height() / 2));
    }
  }
  // Brontide comes to the front with the answer, even when another application is active.
  updateWindow_->show();
  updateWindow_->raise();
  updateWindow_->requestActivate();
}

void AppDelegate::updateTrayIcon() {
  tray_.setIcon(trayIcon(controllerModel_.running()));
}

void AppDelegate::quit() {
  if (quitHandler_) {
    quitHandler_();
    return;
  }
  controller_->stop();
  QCoreApplication::quit();
}

}  // namespace brontide::ui
