#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <memory>

#include "controller/Controller.h"

namespace brontide::ui {

// The onboarding window's progress: the page shown, the capture test and the last step. A new model starts
// at page 0 with the test not run. Main thread; lives as long as its window.
class OnboardingModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(int step READ step NOTIFY stepChanged)
  Q_PROPERTY(int steps READ steps CONSTANT)
  // The user pressed "Empezar ahora": the closing page is shown.
  Q_PROPERTY(bool finished READ finished NOTIFY finishedChanged)
  // "Comenzar", "Siguiente" or "Empezar ahora".
  Q_PROPERTY(QString primaryText READ primaryText NOTIFY stepChanged)
  // "unknown", "asking", "done" or "failed".
  Q_PROPERTY(QString permission READ permission NOTIFY permissionChanged)
  // The capture test's failure text, exactly as the capture reported it.
  Q_PROPERTY(QString permissionMessage READ permissionMessage NOTIFY permissionChanged)
  // Why the sound settings did not open, else empty.
  Q_PROPERTY(QString settingsMessage READ settingsMessage NOTIFY settingsMessageChanged)
  // The closing page's text, naming the selected application.
  Q_PROPERTY(QString closingText READ closingText NOTIFY closingTextChanged)

 public:
  static constexpr int kSteps = 4;
  static constexpr int kSourceStep = 2;

  OnboardingModel(std::shared_ptr<Controller> controller, Workspace& workspace, QObject* parent = nullptr);
  ~OnboardingModel() override;

  [[nodiscard]] int step() const { return step_; }
  [[nodiscard]] int steps() const { return kSteps; }
  [[nodiscard]] bool finished() const { return finished_; }
  [[nodiscard]] QString primaryText() const;
  [[nodiscard]] QString permission() const { return permission_; }
  [[nodiscard]] QString permissionMessage() const { return permissionMessage_; }
  [[nodiscard]] QString settingsMessage() const { return settingsMessage_; }
  [[nodiscard]] QString closingText() const { return closingText_; }

  // The primary button: one page forward, or on the last page mark the user onboarded, start streaming
  // and show the closing page.
  Q_INVOKABLE void forward();
  Q_INVOKABLE void back();
  // Runs the short test capture; ignored while one runs.
  Q_INVOKABLE void askPermission();
  Q_INVOKABLE void openPrivacySettings();
  // "Entendido": the window should close.
  Q_INVOKABLE void finish();

 signals:
  void stepChanged();
  void finishedChanged();
  void permissionChanged();
  void settingsMessageChanged();
  void closingTextChanged();
  void done();

 private:
  void setStep(int step);
  void setPermission(QString state, QString message);
  void pullClosingText();

  std::shared_ptr<Controller> controller_;
  Workspace& workspace_;
  std::size_t connection_ = 0;
  int step_ = 0;
  bool finished_ = false;
  QString permission_ = QStringLiteral("unknown");
  QString permissionMessage_;
  QString settingsMessage_;
  QString closingText_;
};

}  // namespace brontide::ui
