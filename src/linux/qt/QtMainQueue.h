#pragma once

#include <QObject>
#include <QPointer>

#include "base/MainQueue.h"

namespace brontide::linux::qt {

// The main queue on Qt's event loop. Construct on the main thread after the Q*Application.
class QtMainQueue final : public MainQueue {
 public:
  QtMainQueue();
  ~QtMainQueue() override;

  void post(std::function<void()> work) override;
  void postDelayed(Duration delay, std::function<void()> work) override;
  std::unique_ptr<RepeatingTimer> scheduleRepeating(Duration period, std::function<void()> tick) override;

 private:
  // Work queued to it is dropped with it, so nothing runs after the queue is gone.
  std::unique_ptr<QObject> context_;
};

}  // namespace brontide::linux::qt
