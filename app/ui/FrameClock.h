#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace brontide::ui {

// Time for the panel's moving parts, advanced 25 times a second while running. A running Qt Quick animation
// redraws the whole window at the display's rate, and the level bars and the live badge move for as long as a
// capture runs; driven from this one timer they draw at most 25 frames a second. GUI thread.
// Not final: QML derives from it to create it.
class FrameClock : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
  // Seconds since the clock was made, as of the last tick.
  Q_PROPERTY(double time READ time NOTIFY timeChanged)

 public:
  static constexpr int kFrameMs = 40;

  explicit FrameClock(QObject* parent = nullptr);

  [[nodiscard]] bool running() const { return timer_.isActive(); }
  void setRunning(bool running);
  [[nodiscard]] double time() const { return time_; }

  // Seconds since the clock was made, now rather than at the last tick: when a change starts.
  Q_INVOKABLE [[nodiscard]] double now() const;
  // A breath `seconds` into it: 0 to 1 over `halfPeriodMs` and back, each way eased in and out like
  // Easing.Bezier [0.42, 0, 0.58, 1, 1, 1].
  Q_INVOKABLE [[nodiscard]] static double breath(double seconds, int halfPeriodMs);

 signals:
  void runningChanged();
  void timeChanged();

 private:
  QElapsedTimer since_;
  QTimer timer_;
  double time_ = 0;
};

}  // namespace brontide::ui
