#pragma once

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <functional>
#include <memory>

#include "app/ui/AppDelegate.h"
#include "fakes/ControllerFakes.h"
#include "speaker_browser/AirPlayRoutes.h"
#include "speaker_browser/FakeAirPlayOutput.h"
#include "speaker_browser/FakePasswords.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::ui::testing {

// The tray application's delegate with the real controller, route catalogue and views, on fakes.
struct DelegateRig : fakes::ControllerFakes {
  DelegateRig() {
    workspace.addApp("com.spotify.client", "Spotify");
    workspace.addApp("org.mozilla.firefox", "Firefox");
    workspace.addApp("org.gnome.Rhythmbox3", "Rhythmbox");
    controller = makeController();
    delegate = std::make_unique<AppDelegate>(controller, speakers, workspace, &routes);
    routes.usePasswords(passwords, passwords);
  }

  // Two receivers, Cocina and Salón, and an Apple TV that offers only AirPlay 2 appear on the network; with
  // `garaje`, a third that wants a password.
  void discoverReceivers(bool garaje = false) {
    routes.start();
    using Txt = std::map<std::string, std::string>;
    const auto found = [](std::string name, std::uint16_t port, Txt txt) {
      return ServiceResult{.name = std::move(name), .txt = std::move(txt), .local = false, .address = "127.0.0.1",
                           .port = port};
    };
    std::vector<ServiceResult> raop{found("AA@Cocina", 5001, {{"et", "0,1"}}), found("BB@Salón", 5002, {{"et", "0,1"}})};
    if (garaje) raop.push_back(found("CC@Garaje", 5003, {{"et", "0,1"}, {"pw", "true"}}));
    routeBrowser.browsed[0].second.resultsChanged(raop);
    routeBrowser.browsed[1].second.resultsChanged(
        {found("Cocina", 7000, {{"model", "AudioAccessory5,1"}}),
         found("Salón", 7001, {{"model", "AudioAccessory1,1"}}),
         found("Dormitorio", 7002, {{"model", "AppleTV11,1"}})});
    queue.runReady();
    passwords.answer();
  }

  fakes::FakeServiceBrowser speakerServices;
  SpeakerBrowser speakers{speakerServices, queue, collator, "Portátil"};
  fakes::FakeServiceBrowser routeBrowser;
  fakes::FakeAirPlayOutput output;
  fakes::FakePasswords passwords;
  AirPlayRoutes routes{routeBrowser, output, queue, collator, preferences, log, "Portátil"};
  std::shared_ptr<Controller> controller;
  std::unique_ptr<AppDelegate> delegate;
};

// Every item called `name` under `root`, in the visual tree (popups live in the window's overlay).
inline void itemsNamed(QQuickItem* root, const QString& name, QList<QQuickItem*>& found) {
  for (auto* child : root->childItems()) {
    if (child->objectName() == name) found.append(child);
    itemsNamed(child, name, found);
  }
}

// The visible items called `name` in `window` that satisfy `wanted`, once there is one or 5 s pass.
inline QList<QQuickItem*> visibleItems(QQuickWindow* window, const char* name,
                                       const std::function<bool(QQuickItem*)>& wanted = {}) {
  QList<QQuickItem*> visible;
  [[maybe_unused]] const bool appeared = QTest::qWaitFor([&] {
    QList<QQuickItem*> all;
    itemsNamed(window->contentItem(), QLatin1String(name), all);
    visible.clear();
    for (auto* item : all)
      if (item->isVisible() && (!wanted || wanted(item))) visible.append(item);
    return !visible.isEmpty();
  }, 5000);
  return visible;
}

inline QQuickItem* visibleItem(QQuickWindow* window, const char* name) { return visibleItems(window, name).value(0); }

// The AirPlay menu's row for the receiver `name`, once discovery has put it there.
inline QQuickItem* routeRow(QQuickWindow* window, const QString& name) {
  return visibleItems(window, "routeRow", [&](QQuickItem* row) { return row->property("name") == name; }).value(0);
}

// A real mouse click in the middle of the item, through the window.
inline bool click(QQuickWindow* window, QQuickItem* item) {
  if (!item) return false;
  const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
  return true;
}

// Waits until the onboarding page area has finished its transition.
inline bool pageSettled(QQuickWindow* window) {
  return QTest::qWaitFor([&] {
    QList<QQuickItem*> areas;
    itemsNamed(window->contentItem(), QStringLiteral("pageArea"), areas);
    return !areas.isEmpty() && !areas.front()->property("busy").toBool();
  }, 5000);
}

}  // namespace brontide::ui::testing
