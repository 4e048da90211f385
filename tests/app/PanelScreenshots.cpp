// Renders the panel in its main states under X11 with OpenGL, saves each as a PNG in the build folder and
// compares it with the committed reference. BRONTIDE_UPDATE_REFERENCES=1 rewrites the references instead.
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTest>

#include <cstdio>
#include <memory>

#include "ScreenshotCompare.h"
#include "app/ui/QmlSetup.h"

namespace {

struct Scene {
  const char* name;
  QVariantMap controller;
  QVariantList speakers;
  bool searching = false;
  bool options = false;
};

QVariantMap speaker(const char* name, const char* kind, const char* symbol) {
  return {{"name", QString::fromUtf8(name)}, {"kind", QString::fromUtf8(kind)}, {"symbol", symbol}};
}

QList<Scene> scenes() {
  const QVariantList three{speaker("Salón", "HomePod", "homepod.fill"),
                           speaker("Dormitorio", "HomePod mini", "homepodmini.fill"),
                           speaker("Estudio", "Altavoz AirPlay", "hifispeaker.fill")};
  return {
      {"panel-stopped", {{"volume", 0.8}, {"volumeText", "80 %"}}, {}, false, false},
      {"panel-waiting",
       {{"running", true}, {"stateKind", "waiting"}, {"stateLabel", "Esperando audio"},
        {"detail", QString::fromUtf8("Abre Spotify y dale al play.")}, {"volume", 0.8}, {"volumeText", "80 %"}},
       {speaker("Cocina", "HomePod mini", "homepodmini.fill")}, false, false},
      {"panel-live",
       {{"running", true}, {"stateKind", "live"}, {"stateLabel", "En directo"},
        {"detail", QString::fromUtf8("Spotify · 48 kHz · AAC 256 kbps")}, {"level", 0.62}, {"volume", 0.65},
        {"volumeText", "65 %"}},
       three, false, false},
      {"panel-error",
       {{"running", true}, {"stateKind", "error"}, {"stateLabel", "Error"},
        {"detail", QString::fromUtf8("Brontide necesita PipeWire para captar el audio de una app.")},
        {"volume", 0.65}, {"muted", true}, {"volumeText", "Silencio"}, {"volumeSymbol", "speaker.slash.fill"}},
       three, false, false},
      {"panel-options", {{"autoStart", true}, {"volume", 0.8}, {"volumeText", "80 %"}}, three, false, true},
  };
}

QObject* make(QQmlEngine& engine, const QString& file, const QVariantMap& properties) {
  QQmlComponent component(&engine, QUrl::fromLocalFile(file));
  QObject* object = component.createWithInitialProperties(properties);
  if (!object) qFatal("%s: %s", qPrintable(file), qPrintable(component.errorString()));
  return object;
}

}  // namespace

int main(int argc, char** argv) {
  // Shadows and the gradient need the OpenGL scene graph (Mesa's llvmpipe under Xvfb).
  QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
  QGuiApplication app(argc, argv);
  QQmlEngine engine;
  brontide::ui::prepareEngine(engine);

  const QString stubs = QStringLiteral(BRONTIDE_TEST_DIR "/stubs/");
  int failures = 0;
  for (const auto& scene : scenes()) {
    std::unique_ptr<QObject> controller(make(engine, stubs + "StubController.qml", scene.controller));
    std::unique_ptr<QObject> speakers(
        make(engine, stubs + "StubSpeakers.qml", {{"speakers", scene.speakers}, {"searching", scene.searching}}));
    std::unique_ptr<QObject> updates(make(engine, stubs + "StubUpdates.qml", {}));
    std::unique_ptr<QObject> routes(make(engine, stubs + "StubRoutes.qml", {}));
    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Brontide/PanelWindow.qml")));
    std::unique_ptr<QObject> object(component.createWithInitialProperties(
        {{"controller", QVariant::fromValue(controller.get())},
         {"speakers", QVariant::fromValue(speakers.get())},
         {"updates", QVariant::fromValue(updates.get())},
         {"routes", QVariant::fromValue(routes.get())}}));
    auto* window = qobject_cast<QQuickWindow*>(object.get());
    if (!window) qFatal("PanelWindow.qml: %s", qPrintable(component.errorString()));
    window->setFlags(Qt::Tool | Qt::FramelessWindowHint);
    window->setPosition(0, 0);
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) qFatal("the panel window was never exposed");
    if (scene.options) {
      QObject* popover = window->findChild<QObject*>(QStringLiteral("optionsPopover"));
      if (!popover) qFatal("no options popover");
      QMetaObject::invokeMethod(popover, "open");
    }
    if (!brontide::ui::testing::matchesReference(window, QString::fromLatin1(scene.name))) ++failures;
  }
  std::printf("screenshots in %s\n", qPrintable(brontide::ui::testing::screenshotsDir()));
  return failures == 0 ? 0 : 1;
}
