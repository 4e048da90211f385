#pragma once

#include <QObject>

namespace brontide::ui {

// The software-update check as the panel sees it. Without an update feed it can never check. Main thread.
class Updates final : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)
 public:
  explicit Updates(QObject* parent = nullptr) : QObject(parent) {}
  [[nodiscard]] bool canCheck() const { return canCheck_; }
  // Brings Brontide to the front and checks the feed; does nothing while `canCheck` is false.
  Q_INVOKABLE void checkForUpdates() {}

 signals:
  void canCheckChanged();

 private:
  bool canCheck_ = false;
};

}  // namespace brontide::ui
