#pragma once

#include <QImage>

#include <cstdlib>

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

}  // namespace brontide::ui::testing
