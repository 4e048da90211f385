#include "linux/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QTimer>

namespace brontide::linux::qt {
namespace {

class QtRepeatingTimer final : public RepeatingTimer {
 public:
  QtRepeatingTimer(QObject* context, MainQueue::Duration period, std::function<void()> tick)
      : timer_(new QTimer(context)) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(period);
    QObject::connect(timer_, &QTimer::timeout, timer_, std::move(tick));
    timer_->start();
  }
  ~QtRepeatingTimer() override {
    if (timer_) timer_->deleteLater();
  }
  void invalidate() override {
    if (timer_) timer_->stop();
  }

 private:
  QPointer<QTimer> timer_;
};

}  // namespace

QtMainQueue::QtMainQueue() : context_(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> work) {
  QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

void QtMainQueue::postDelayed(Duration delay, std::function<void()> work) {
  // A single-shot timer must be created on the thread that owns the context.
  QObject* context = context_.get();
  QMetaObject::invokeMethod(
      context, [context, delay, work = std::move(work)]() mutable {
        QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(work));
      },
      Qt::QueuedConnection);
}

std::unique_ptr<RepeatingTimer> QtMainQueue::scheduleRepeating(Duration period, std::function<void()> tick) {
  return std::make_unique<QtRepeatingTimer>(context_.get(), period, std::move(tick));
}

}  // namespace brontide::linux::qt
