#include "app/ui/OnboardingModel.h"

#include <QCoreApplication>
#include <QPointer>

#include "app/ui/AppConfig.h"
#include "app/ui/PanelTexts.h"
#include "controller/Workspace.h"

namespace brontide::ui {

OnboardingModel::OnboardingModel(std::shared_ptr<Controller> controller, Workspace& workspace, QObject* parent)
    : QObject(parent), controller_(std::move(controller)), workspace_(workspace) {
  pullClosingText();
  connection_ = controller_->changed.connect([this](Controller::Field field) {
    if (field == Controller::Field::apps || field == Controller::Field::selectedBundle) pullClosingText();
  });
}

OnboardingModel::~OnboardingModel() { controller_->changed.disconnect(connection_); }

QString OnboardingModel::primaryText() const {
  const char* key = step_ == 0 ? "Comenzar" : step_ < kSteps - 1 ? "Siguiente" : "Empezar ahora";
  return QCoreApplication::translate(kTextContext, key);
}

void OnboardingModel::setStep(int step) {
  if (step == step_) return;
  step_ = step;
  emit stepChanged();
  // The list is read again each time its page comes up.
  if (step_ == kSourceStep) controller_->refreshApps();
}

void OnboardingModel::forward() {
  if (finished_) return;
  if (step_ < kSteps - 1) {
    setStep(step_ + 1);
    return;
  }
  controller_->setOnboarded(true);
  controller_->start();
  finished_ = true;
  emit finishedChanged();
}

void OnboardingModel::back() {
  if (!finished_ && step_ > 0) setStep(step_ - 1);
}

void OnboardingModel::setPermission(QString state, QString message) {
  if (state == permission_ && message == permissionMessage_) return;
  permission_ = std::move(state);
  permissionMessage_ = std::move(message);
  emit permissionChanged();
}

void OnboardingModel::askPermission() {
  if (permission_ == u"asking") return;
  setPermission(QStringLiteral("asking"), {});
  // The window may be gone by the time the capture ends.
  controller_->testCapture([self = QPointer<OnboardingModel>(this)](std::optional<Error> failure) {
    if (!self) return;
    if (failure) self->setPermission(QStringLiteral("failed"), QString::fromStdString(userText(*failure)));
    else self->setPermission(QStringLiteral("done"), {});
  });
}

void OnboardingModel::openPrivacySettings() {
  QString message;
  if (!workspace_.openAddress(AppConfig::privacySettingsURL().toStdString()))
    message = QCoreApplication::translate(kTextContext, "No se encontraron los ajustes de sonido de tu escritorio.");
  if (message == settingsMessage_) return;
  settingsMessage_ = message;
  emit settingsMessageChanged();
}

void OnboardingModel::finish() { emit done(); }

void OnboardingModel::pullClosingText() {
  // The key names the value "%@"; the shipped table's text names it "%1".
  auto text = QCoreApplication::translate(
      kTextContext,
      "Haz clic en su icono, arriba a la derecha, para elegir altavoces, cambiar el volumen o pararlo. Ya está "
      "enviando %@.");
  text.replace(QStringLiteral("%@"), QStringLiteral("%1"));
  text = text.arg(QString::fromStdString(controller_->sourceName()));
  if (text == closingText_) return;
  closingText_ = text;
  emit closingTextChanged();
}

}  // namespace brontide::ui
