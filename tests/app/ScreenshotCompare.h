#pragma once

#include <QDir>
#include <QImage>
#include <QQuickWindow>
#include <QTest>

#include <cstdio>
#include <cstdlib>

// Needs BRONTIDE_TEST_DIR defined to tests/app.
namespace brontide::ui::testing {

// Text antialiasing and hinting differ a little between machines; broken layout moves whole blocks.
inline constexpr int kChannelThreshold = 64;
inline constexpr double kMaxShare = 0.003;

// Share of pixels that differ clearly (any channel by more than `threshold`), marked red in `diff`;
// 1 when the sizes differ.
inline double differingShare(const QImage& a, const QImage& b, int threshold, QImage* diff) {
  if (a.size() != b.size()) return 1.0;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  *diff = QImage(x.size(), QImage::Format_RGB32);
  diff->fill(Qt::white);
  qint64 differing = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      if (std::abs(qRed(p[col]) - qRed(q[col])) > threshold || std::abs(qGreen(p[col]) - qGreen(q[col])) > threshold ||
          std::abs(qBlue(p[col]) - qBlue(q[col])) > threshold) {
        ++differing;
        diff->setPixel(col, row, qRgb(255, 0, 0));
      }
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(x.width()) * x.height());
}

inline QString screenshotsDir() { return QDir::currentPath() + QStringLiteral("/screenshots/"); }

// Saves the window's grab as screenshots/<name>.png in the build folder and compares it with the committed
// reference; BRONTIDE_UPDATE_REFERENCES=1 rewrites the reference instead. False on a clear difference.
inline bool matchesReference(QQuickWindow* window, const QString& name) {
  const QString references = QStringLiteral(BRONTIDE_TEST_DIR "/reference/");
  const QString output = screenshotsDir();
  QDir().mkpath(output);
  QTest::qWait(50);  // lets the last frame settle; the grab below renders synchronously
  const QImage shot = window->grabWindow();
  shot.save(output + name + ".png");
  if (qEnvironmentVariableIntValue("BRONTIDE_UPDATE_REFERENCES") == 1) {
    shot.save(references + name + ".png");
    std::printf("updated %s\n", qPrintable(references + name + ".png"));
    return true;
  }
  const QImage reference(references + name + ".png");
  QImage diff;
  const double share = reference.isNull() ? 1.0 : differingShare(shot, reference, kChannelThreshold, &diff);
  if (share > kMaxShare) {
    if (!diff.isNull()) diff.save(output + name + "-diff.png");
    std::printf("FAIL %s: %.2f %% of pixels differ from the reference (size %dx%d, reference %dx%d)\n",
                qPrintable(name), share * 100, shot.width(), shot.height(), reference.width(), reference.height());
    return false;
  }
  std::printf("ok %s: %.3f %% of pixels differ\n", qPrintable(name), share * 100);
  return true;
}

}  // namespace brontide::ui::testing
