#include "app/ui/FrameClock.h"

#include <QEasingCurve>
#include <QPointF>

#include <cmath>

namespace brontide::ui {

FrameClock::FrameClock(QObject* parent) : QObject(parent) {
  since_.start();
  timer_.setInterval(kFrameMs);
  // A coarse timer may fire up to 5 % late; frames need no better, and it wakes the process less.
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    time_ = now();
    emit timeChanged();
  });
}

void FrameClock::setRunning(bool running) {
  if (running == timer_.isActive()) return;
  if (running) {
    timer_.start();
    time_ = now();
    emit timeChanged();
  } else {
    timer_.stop();
  }
  emit runningChanged();
}

double FrameClock::now() const { return static_cast<double>(since_.nsecsElapsed()) / 1e9; }

double FrameClock::breath(double seconds, int halfPeriodMs) {
  if (halfPeriodMs <= 0) return 0;
  const double halves = std::fmod(std::max(seconds, 0.0) * 1000 / halfPeriodMs, 2.0);
  static const QEasingCurve curve = [] {
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return c;
  }();
  return curve.valueForProgress(halves < 1 ? halves : 2 - halves);
}

}  // namespace brontide::ui
