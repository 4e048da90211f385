// Qt Quick Test runner for the panel's views; the tests use stub view models from tests/app/stubs.
#include <QObject>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtQuickTest>

#include "app/ui/QmlSetup.h"

class Setup : public QObject {
  Q_OBJECT
 public slots:
  void applicationAvailable() { QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL); }
  void qmlEngineAvailable(QQmlEngine* engine) { brontide::ui::prepareEngine(*engine); }
};

QUICK_TEST_MAIN_WITH_SETUP(PanelQml, Setup)

#include "PanelQmlTest.moc"
