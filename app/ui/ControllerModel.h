#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <cstddef>
#include <memory>

#include "controller/Controller.h"

namespace brontide {
class Workspace;
}

namespace brontide::ui {

// The controller as QML sees it: one property per observable field, notified only on a real change,
// plus the panel's derived texts. Main thread; fed by the controller's `changed` signal.
class ControllerModel final : public QObject {
  Q_OBJECT
  // Each entry: {bundleID, name, icon (an image URL)}.
  Q_PROPERTY(QVariantList apps READ apps NOTIFY appsChanged)
  Q_PROPERTY(QString selectedBundle READ selectedBundle WRITE setSelectedBundle NOTIFY selectedBundleChanged)
  // The row of `apps` holding the selected bundle, -1 when none does.
  Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
  // The selected application's icon: a file URL, or the "app.dashed" symbol's image URL.
  Q_PROPERTY(QUrl sourceIcon READ sourceIcon NOTIFY sourceIconChanged)
  Q_PROPERTY(bool autoStart READ autoStart WRITE setAutoStart NOTIFY autoStartChanged)
  Q_PROPERTY(bool onboarded READ onboarded WRITE setOnboarded NOTIFY onboardedChanged)
  Q_PROPERTY(bool running READ running NOTIFY runningChanged)
  // "error", "stopped", "waiting" or "live".
  Q_PROPERTY(QString stateKind READ stateKind NOTIFY stateChanged)
  Q_PROPERTY(QString stateLabel READ stateLabel NOTIFY stateChanged)
  Q_PROPERTY(QString detail READ detail NOTIFY detailChanged)
  Q_PROPERTY(double level READ level NOTIFY levelChanged)
  Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)
  Q_PROPERTY(bool muted READ muted WRITE setMuted NOTIFY mutedChanged)
  Q_PROPERTY(QString volumeText READ volumeText NOTIFY volumeTextChanged)
  Q_PROPERTY(QString volumeSymbol READ volumeSymbol NOTIFY volumeSymbolChanged)
  Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
  Q_PROPERTY(bool captureSilent READ captureSilent NOTIFY captureSilentChanged)
  // The header's extra row while live and silent, naming the source; empty otherwise.
  Q_PROPERTY(QString silenceText READ silenceText NOTIFY silenceTextChanged)
  // Shown once the settings file could not be written, until the panel closes; never in `detail`.
  Q_PROPERTY(QString settingsNotice READ settingsNotice NOTIFY settingsNoticeChanged)

 public:
  ControllerModel(std::shared_ptr<Controller> controller, Workspace& workspace, QObject* parent = nullptr);
  ~ControllerModel() override;

  [[nodiscard]] QVariantList apps() const { return apps_; }
  [[nodiscard]] QString selectedBundle() const { return selectedBundle_; }
  void setSelectedBundle(const QString& bundleID);
  [[nodiscard]] int selectedIndex() const { return selectedIndex_; }
  [[nodiscard]] QUrl sourceIcon() const { return sourceIcon_; }
  [[nodiscard]] bool autoStart() const { return autoStart_; }
  void setAutoStart(bool on);
  [[nodiscard]] bool onboarded() const { return onboarded_; }
  void setOnboarded(bool on);
  [[nodiscard]] bool running() const { return running_; }
  [[nodiscard]] QString stateKind() const { return stateKind_; }
  [[nodiscard]] QString stateLabel() const { return stateLabel_; }
  [[nodiscard]] QString detail() const { return detail_; }
  [[nodiscard]] double level() const { return level_; }
  [[nodiscard]] double volume() const { return volume_; }
  void setVolume(double volume);
  [[nodiscard]] bool muted() const { return muted_; }
  void setMuted(bool muted);
  [[nodiscard]] QString volumeText() const { return volumeText_; }
  [[nodiscard]] QString volumeSymbol() const { return volumeSymbol_; }
  [[nodiscard]] bool launchAtLogin() const { return launchAtLogin_; }
  [[nodiscard]] bool captureSilent() const { return captureSilent_; }
  [[nodiscard]] QString silenceText() const { return silenceText_; }
  [[nodiscard]] QString settingsNotice() const { return settingsNotice_; }
  // The settings file cannot be written: says so once, with `problem`.
  void showSettingsProblem(const QString& problem);

  Q_INVOKABLE void start();
  Q_INVOKABLE void stop();
  // Start when stopped, stop when running: the header button and the Space key.
  Q_INVOKABLE void toggleRunning();
  Q_INVOKABLE void toggleMuted();
  Q_INVOKABLE void refreshApps();
  Q_INVOKABLE void setLaunchAtLogin(bool on);
  Q_INVOKABLE void dismissNotice();

  [[nodiscard]] Controller& controller() const { return *controller_; }

 signals:
  void appsChanged();
  void selectedBundleChanged();
  void selectedIndexChanged();
  void sourceIconChanged();
  void autoStartChanged();
  void onboardedChanged();
  void runningChanged();
  void stateChanged();
  void detailChanged();
  void levelChanged();
  void volumeChanged();
  void mutedChanged();
  void volumeTextChanged();
  void volumeSymbolChanged();
  void launchAtLoginChanged();
  void captureSilentChanged();
  void silenceTextChanged();
  void settingsNoticeChanged();

 private:
  void pull(Controller::Field field);
  void pullSource();
  void pullVolume();
  void pullSilence();

  std::shared_ptr<Controller> controller_;
  Workspace& workspace_;
  std::size_t connection_ = 0;

  QVariantList apps_;
  QString selectedBundle_;
  int selectedIndex_ = -1;
  QUrl sourceIcon_;
  bool autoStart_ = false;
  bool onboarded_ = false;
  bool running_ = false;
  QString stateKind_;
  QString stateLabel_;
  QString detail_;
  double level_ = 0;
  double volume_ = 1;
  bool muted_ = false;
  QString volumeText_;
  QString volumeSymbol_;
  bool launchAtLogin_ = false;
  bool captureSilent_ = false;
  QString silenceText_;
  QString settingsNotice_;
  bool settingsProblemShown_ = false;
};

// The image URL for an application icon: a file URL, or the bundled symbol's image URL.
[[nodiscard]] QUrl iconUrl(const AppIcon& icon);

}  // namespace brontide::ui
