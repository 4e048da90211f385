// The least a Qt Quick window of the panel's width costs on this display: one small rectangle recoloured 25
// times a second ("animate": each change is one frame, as the live panel's frame clock allows), or a window
// where nothing changes. bench_panel runs it beside the tray application to show what llvmpipe itself takes.
#include <QGuiApplication>
#include <QQmlApplicationEngine>

#include <cstring>

int main(int argc, char** argv) {
  const bool animate = argc > 1 && std::strcmp(argv[1], "animate") == 0;
  QGuiApplication app(argc, argv);
  QQmlApplicationEngine engine;
  engine.loadData(QByteArray(R"(
import QtQuick
Window {
    id: window
    width: 400; height: 560; visible: true; color: "#1c1c1e"
    property bool lit
    Rectangle { anchors.centerIn: parent; width: 24; height: 24; radius: 12; color: window.lit ? "#30d158" : "#8e8e93" }
    Timer { interval: 40; repeat: true; running: )") +
                  (animate ? "true" : "false") + " ; onTriggered: window.lit = !window.lit }\n}\n");
  if (engine.rootObjects().isEmpty()) return 1;
  return app.exec();
}
