#include "app/ui/ControllerModel.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <utility>

#include "app/ui/PanelTexts.h"
#include "app/ui/Symbols.h"
#include "controller/Workspace.h"

namespace brontide::ui {
namespace {

// Assigns and notifies only when the value really changes.
template <class T, class Signal>
void assign(ControllerModel* model, T& member, T value, Signal signal) {
  if (member == value) return;
  member = std::move(value);
  emit(model->*signal)();
}

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QUrl iconUrl(const AppIcon& icon) {
  if (!icon.file.empty()) return QUrl::fromLocalFile(fromStd(icon.file));
  return symbolUrl(fromStd(icon.symbol));
}

ControllerModel::ControllerModel(std::shared_ptr<Controller> controller, Workspace& workspace, QObject* parent)
    : QObject(parent), controller_(std::move(controller)), workspace_(workspace) {
  for (const auto field : {Controller::Field::apps, Controller::Field::selectedBundle, Controller::Field::autoStart,
                           Controller::Field::onboarded, Controller::Field::running, Controller::Field::state,
                           Controller::Field::detail, Controller::Field::level, Controller::Field::volume,
                           Controller::Field::muted, Controller::Field::launchAtLogin,
                           Controller::Field::captureSilent}) {
    pull(field);
  }
  // The controller lives on this thread and outlives nothing here: the model disconnects on destruction.
  connection_ = controller_->changed.connect([this](Controller::Field field) { pull(field); });
}

ControllerModel::~ControllerModel() { controller_->changed.disconnect(connection_); }

void ControllerModel::pull(Controller::Field field) {
  const auto& c = *controller_;
  switch (field) {
    case Controller::Field::apps: {
      QVariantList apps;
      for (const auto& app : c.apps()) {
        apps.append(QVariantMap{{QStringLiteral("bundleID"), fromStd(app.bundleID)},
                                {QStringLiteral("name"), fromStd(app.name)},
                                {QStringLiteral("icon"), iconUrl(app.icon(workspace_))}});
      }
      assign(this, apps_, std::move(apps), &ControllerModel::appsChanged);
      pullSource();
      pullSilence();
      break;
    }
    case Controller::Field::selectedBundle:
      assign(this, selectedBundle_, fromStd(c.selectedBundle()), &ControllerModel::selectedBundleChanged);
      pullSource();
      pullSilence();
      break;
    case Controller::Field::autoStart: assign(this, autoStart_, c.autoStart(), &ControllerModel::autoStartChanged); break;
    case Controller::Field::onboarded: assign(this, onboarded_, c.onboarded(), &ControllerModel::onboardedChanged); break;
    case Controller::Field::running: assign(this, running_, c.running(), &ControllerModel::runningChanged); break;
    case Controller::Field::state: {
      const auto kind = ui::stateKind(c.state());
      const auto label = QCoreApplication::translate(kTextContext, c.state().label());
      if (kind == stateKind_ && label == stateLabel_) break;
      stateKind_ = kind;
      stateLabel_ = label;
      emit stateChanged();
      pullSilence();
      break;
    }
    case Controller::Field::detail: assign(this, detail_, fromStd(c.detail()), &ControllerModel::detailChanged); break;
    case Controller::Field::level:
      assign(this, level_, static_cast<double>(c.level()), &ControllerModel::levelChanged);
      break;
    case Controller::Field::volume:
      assign(this, volume_, c.volume(), &ControllerModel::volumeChanged);
      pullVolume();
      break;
    case Controller::Field::muted:
      assign(this, muted_, c.muted(), &ControllerModel::mutedChanged);
      pullVolume();
      break;
    case Controller::Field::launchAtLogin:
      assign(this, launchAtLogin_, c.launchAtLogin(), &ControllerModel::launchAtLoginChanged);
      break;
    case Controller::Field::captureSilent:
      assign(this, captureSilent_, c.captureSilent(), &ControllerModel::captureSilentChanged);
      pullSilence();
      break;
  }
}

void ControllerModel::pullSource() {
  const auto selected = controller_->selectedBundle();
  const auto& apps = controller_->apps();
  int index = -1;
  for (std::size_t i = 0; i < apps.size(); ++i) {
    if (apps[i].bundleID == selected) {
      index = static_cast<int>(i);
      break;
    }
  }
  assign(this, selectedIndex_, index, &ControllerModel::selectedIndexChanged);
  // The icon depends only on the identity, so a source missing from the list still shows its own.
  assign(this, sourceIcon_, iconUrl(AppChoice{selected, {}}.icon(workspace_)), &ControllerModel::sourceIconChanged);
}

void ControllerModel::pullVolume() {
  assign(this, volumeText_, volumeFigure(volume_, muted_), &ControllerModel::volumeTextChanged);
  assign(this, volumeSymbol_, ui::volumeSymbol(volume_, muted_), &ControllerModel::volumeSymbolChanged);
}

void ControllerModel::pullSilence() {
  // The flag outlives a stop until the next start's first tick: only a live stream is said to be silent.
  const bool shown = captureSilent_ && controller_->state().kind() == CaptureState::Case::live;
  assign(this, silenceText_, shown ? silenceLine(fromStd(controller_->sourceName())) : QString(),
         &ControllerModel::silenceTextChanged);
}

void ControllerModel::setSelectedBundle(const QString& bundleID) { controller_->setSelectedBundle(bundleID.toStdString()); }
void ControllerModel::setAutoStart(bool on) { controller_->setAutoStart(on); }
void ControllerModel::setOnboarded(bool on) { controller_->setOnboarded(on); }
void ControllerModel::setVolume(double volume) { controller_->setVolume(volume); }
void ControllerModel::setMuted(bool muted) { controller_->setMuted(muted); }

void ControllerModel::start() { controller_->start(); }
void ControllerModel::stop() { controller_->stop(); }
void ControllerModel::toggleRunning() { controller_->running() ? controller_->stop() : controller_->start(); }
void ControllerModel::toggleMuted() { controller_->setMuted(!controller_->muted()); }
void ControllerModel::refreshApps() { controller_->refreshApps(); }
void ControllerModel::setLaunchAtLogin(bool on) { controller_->setLaunchAtLogin(on); }
void ControllerModel::dismissNotice() {
  controller_->dismissNotice();
  assign(this, settingsNotice_, QString(), &ControllerModel::settingsNoticeChanged);
}

void ControllerModel::showSettingsProblem(const QString& problem) {
  if (std::exchange(settingsProblemShown_, true)) return;
  assign(this, settingsNotice_, settingsProblemLine(problem), &ControllerModel::settingsNoticeChanged);
}

}  // namespace brontide::ui
