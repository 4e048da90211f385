// The least a Qt Quick window of the panel's width costs on this display: one small rectangle recoloured 25
// times a second ("animate": each change is one frame, as the live panel's frame clock allows), a window where
// nothing changes ("still"), or one shown for two seconds and then released as the tray application releases a
// closed panel ("closed": window and engine deleted, the heap trimmed). bench_panel runs it beside the tray
// application to show what Qt Quick on llvmpipe takes by itself.
#include <malloc.h>

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QTimer>

#include <cstring>
#include <memory>

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "still";
  QGuiApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  auto engine = std::make_unique<QQmlApplicationEngine>();
  engine->loadData(QByteArray(R"(
import QtQuick
Window {
    id: window
    width: 400; height: 560; visible: true; color: "#1c1c1e"
    property bool lit
    Rectangle { anchors.centerIn: parent; width: 24; height: 24; radius: 12; color: window.lit ? "#30d158" : "#8e8e93" }
    Timer { interval: 40; repeat: true; running: )") +
                   (std::strcmp(mode, "animate") == 0 ? "true" : "false") +
                   " ; onTriggered: window.lit = !window.lit }\n}\n");
  if (engine->rootObjects().isEmpty()) return 1;
  if (std::strcmp(mode, "closed") == 0) {
    QTimer::singleShot(2000, [&] {
      engine.reset();
      QTimer::singleShot(1000, [] { malloc_trim(0); });
    });
  }
  return app.exec();
}
