// Shows the panel on stub models: `PanelPreview` from the build folder.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include "app/ui/QmlSetup.h"

int main(int argc, char** argv) {
  QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
  QGuiApplication app(argc, argv);
  QQmlApplicationEngine engine;
  brontide::ui::prepareEngine(engine);
  engine.load(QUrl::fromLocalFile(QStringLiteral(BRONTIDE_TEST_DIR "/preview/Preview.qml")));
  if (engine.rootObjects().isEmpty()) return 1;
  return QGuiApplication::exec();
}
