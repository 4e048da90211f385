// Qt Quick Test runner for the onboarding views on the real view models, over a controller on fakes. The QML
// tests reach it through the `Harness` singleton of the BrontideTest module.
#include <QObject>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QVariantList>
#include <QtQuickTest>

#include <chrono>
#include <memory>
#include <vector>

#include "app/ui/ControllerModel.h"
#include "app/ui/OnboardingModel.h"
#include "app/ui/QmlSetup.h"
#include "fakes/ControllerFakes.h"

namespace {

using namespace brontide;

// One controller on fakes with its two view models; rebuilt by each test.
struct Session : fakes::ControllerFakes {
  explicit Session(const QString& source) {
    preferences.setValue("sourceBundle", source.toStdString());
    controller = makeController();
    model = std::make_unique<ui::ControllerModel>(controller, workspace);
    flow = std::make_unique<ui::OnboardingModel>(controller, workspace);
  }

  std::shared_ptr<Controller> controller;
  std::unique_ptr<ui::ControllerModel> model;
  std::unique_ptr<ui::OnboardingModel> flow;
};

class Harness : public QObject {
  Q_OBJECT
  Q_PROPERTY(QObject* controller READ controller NOTIFY rebuilt)
  Q_PROPERTY(QObject* flow READ flow NOTIFY rebuilt)

 public:
  [[nodiscard]] QObject* controller() const { return session_ ? session_->model.get() : nullptr; }
  [[nodiscard]] QObject* flow() const { return session_ ? session_->flow.get() : nullptr; }

  // A new session whose desktop runs `apps` ([bundleID, name] pairs), with `source` chosen.
  Q_INVOKABLE void reset(const QVariantList& apps, const QString& source) {
    // The last test's views may not be gone yet: they keep their models until the end.
    if (session_) retired_.push_back(std::move(session_));
    session_ = std::make_unique<Session>(source);
    for (const auto& app : apps) addApp(app.toList().value(0).toString(), app.toList().value(1).toString());
    session_->controller->refreshApps();
    emit rebuilt();
  }
  // Shown in the list the next time it is read.
  Q_INVOKABLE void addApp(const QString& bundleID, const QString& name) {
    session_->workspace.addApp(bundleID.toStdString(), name.toStdString());
  }
  // Changes the source behind the list's back, as the command line may.
  Q_INVOKABLE void chooseUnlisted(const QString& bundleID) { session_->controller->setSelectedBundle(bundleID.toStdString()); }
  Q_INVOKABLE void failNextCapture(const QString& message) {
    session_->capture.failures.emplace_back(message.toStdString());
  }
  // Lets the test capture run its course.
  Q_INVOKABLE void endCapture() { session_->queue.advance(std::chrono::seconds(1)); }
  Q_INVOKABLE bool onboarded() const { return session_->controller->onboarded(); }
  Q_INVOKABLE bool running() const { return session_->controller->running(); }
  Q_INVOKABLE QStringList opened() const {
    QStringList list;
    for (const auto& address : session_->workspace.opened) list.append(QString::fromStdString(address));
    return list;
  }

 signals:
  void rebuilt();

 private:
  std::vector<std::unique_ptr<Session>> retired_;
  std::unique_ptr<Session> session_;
};

class Setup : public QObject {
  Q_OBJECT
 public slots:
  void applicationAvailable() { QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL); }
  void qmlEngineAvailable(QQmlEngine* engine) {
    brontide::ui::prepareEngine(*engine);
    qmlRegisterSingletonInstance("BrontideTest", 1, 0, "Harness", &harness_);
  }

 private:
  Harness harness_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(OnboardingQml, Setup)

#include "OnboardingQmlTest.moc"
