// Renders the panel in its main states under X11 with OpenGL, saves each as a PNG in the build folder and
// compares it with the committed reference. BRONTIDE_UPDATE_REFERENCES=1 rewrites the references instead.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <memory>

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

// Share of pixels that differ clearly (any channel by more than `threshold`); 1 when the sizes differ.
double differingShare(const QImage& a, const QImage& b, int threshold, QImage* diff) {
  if (a.size() != b.size()) return 1.0;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  *diff = QImage(x.size(), QImage::Format_RGB32);
  diff->fill(Qt::white);
  qint64 differing = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      if (std::abs(qRed(p[col]) - qRed(q[col])) > threshold || std::abs(qGreen(p[col]) - qGreen(q[col])) > threshold ||
          std::abs(qBlue(p[col]) - qBlue(q[col])) > threshold) {
        ++differing;
        diff->setPixel(col, row, qRgb(255, 0, 0));
      }
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(x.width()) * x.height());
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
  const QString references = QStringLiteral(BRONTIDE_TEST_DIR "/reference/");
  const QString output = QDir::currentPath() + QStringLiteral("/screenshots/");
  QDir().mkpath(output);
  const bool update = qEnvironmentVariableIntValue("BRONTIDE_UPDATE_REFERENCES") == 1;
  // Text antialiasing and hinting differ a little between machines; broken layout moves whole blocks.
  constexpr int kChannelThreshold = 64;
  constexpr double kMaxShare = 0.003;

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
    QTest::qWait(50);  // lets the first frame settle; the grab below renders synchronously
    const QImage shot = window->grabWindow();
    const QString name = QString::fromLatin1(scene.name) + ".png";
    shot.save(output + name);
    if (update) {
      shot.save(references + name);
      std::printf("updated %s\n", qPrintable(references + name));
      continue;
    }
    const QImage reference(references + name);
    QImage diff;
    const double share = reference.isNull() ? 1.0 : differingShare(shot, reference, kChannelThreshold, &diff);
    if (share > kMaxShare) {
      ++failures;
      if (!diff.isNull()) diff.save(output + QString::fromLatin1(scene.name) + "-diff.png");
      std::printf("FAIL %s: %.2f %% of pixels differ from the reference (size %dx%d, reference %dx%d)\n", scene.name,
                  share * 100, shot.width(), shot.height(), reference.width(), reference.height());
    } else {
      std::printf("ok %s: %.3f %% of pixels differ\n", scene.name, share * 100);
    }
  }
  std::printf("screenshots in %s\n", qPrintable(output));
  return failures == 0 ? 0 : 1;
}
